#include "cli/torvin-upload/CapturedOutput.h"

#include <windows.h>

namespace torvinupload {

CapturedOutput::CapturedOutput() {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH, folder) && GetTempFileNameW(folder, L"tvu", 0, name))
        file_ = _wfopen(name, L"w+bD"); // D: removed when closed, or when the program ends
}

CapturedOutput::~CapturedOutput() {
    if (file_) std::fclose(file_);
}

std::string CapturedOutput::text() {
    if (!file_) return {};
    std::fflush(file_);
    const long end = std::ftell(file_);
    std::string text(end > 0 ? static_cast<std::size_t>(end) : 0, '\0');
    std::rewind(file_);
    text.resize(std::fread(text.data(), 1, text.size(), file_));
    std::fseek(file_, 0, SEEK_END);
    return text;
}

} // namespace torvinupload
