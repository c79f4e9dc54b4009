#include "cli/torvin-upload/CapturedOutput.h"

#include <cstdlib>

namespace torvinupload {

CapturedOutput::CapturedOutput() : file_(open_memstream(&buffer_, &size_)) {}

CapturedOutput::~CapturedOutput() {
    if (file_) std::fclose(file_);
    std::free(buffer_);
}

std::string CapturedOutput::text() {
    if (!file_) return {};
    std::fflush(file_);
    return std::string(buffer_, size_);
}

} // namespace torvinupload
