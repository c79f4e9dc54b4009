#pragma once

#include "framework/Exception.h"

#include <optional>
#include <string>
#include <string_view>

namespace fw {

// A file that could not be read or written; the message names the file and the system's reason.
class EFileError : public Exception {
public:
    EFileError(std::string message, int errorCode)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    int errorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

// The whole content of a file, or nothing when the file does not exist. Other failures raise
// EFileError.
std::optional<std::string> readWholeFile(const std::string& path);

// Replaces the file's content so that a crash at any moment leaves either the old or the new
// content, never a mixture: the content goes to a temporary file beside it, is flushed to disk
// and renamed over the file. An existing file keeps its permission bits; a symbolic link keeps
// pointing at the file it names, which is the one replaced. Failures raise EFileError and leave
// the old file as it was.
void writeFileAtomically(const std::string& path, std::string_view content);

} // namespace fw
