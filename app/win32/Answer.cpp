#include "app/win32/Answer.h"

#include "app/CommandLine.h"
#include "app/win32/Boxes.h"
#include "framework/Win32Text.h"

#include <windows.h>

namespace app::win32 {

namespace {

bool writeTo(HANDLE handle, const std::string& text) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        // A console shows the accents right only when given UTF-16.
        const std::wstring wide = fw::win32::widen(text);
        return WriteConsoleW(handle, wide.c_str(), static_cast<DWORD>(wide.size()), &written,
                             nullptr) != 0;
    }
    if (GetFileType(handle) == FILE_TYPE_UNKNOWN) return false;
    return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
}

// The text as a box shows it, in a proportional font: an option's description goes on a line of
// its own under the option, since columns made of spaces no longer line up.
std::string forBox(const std::string& text) {
    std::string out;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(from, end - from);
        const std::size_t gap = line.starts_with("  ") ? line.find("  ", 2) : std::string::npos;
        const std::size_t rest = gap == std::string::npos ? gap : line.find_first_not_of(' ', gap);
        if (rest != std::string::npos)
            out += line.substr(0, gap) + "\n        " + line.substr(rest) + "\n";
        else
            out += line + "\n";
        from = end + 1;
    }
    return out;
}

} // namespace

void answer(const std::string& text, bool error) {
    // Given a handle (started with its output redirected, or by another program), the text goes
    // there. Started from a Command Prompt without one, the prompt has come back before the
    // program could write into that console, and its text would mix with what is typed next: a
    // box shows it instead.
    if (writeTo(GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), text)) return;
    showBox(nullptr, error ? MB_ICONERROR : MB_ICONINFORMATION, programName, forBox(text));
}

} // namespace app::win32
