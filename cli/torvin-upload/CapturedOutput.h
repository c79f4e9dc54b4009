#pragma once

#include <cstdio>
#include <string>

namespace torvinupload {

// A stream that keeps what is written to it, for output that must wait (a board's failure while
// the terminal shows the progress block). In memory on Linux, in a temporary file that removes
// itself on Windows.
class CapturedOutput {
public:
    CapturedOutput();
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    // Null when no room was left for it; the caller then writes directly.
    std::FILE* file() const { return file_; }
    std::string text();

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_ = nullptr;
};

} // namespace torvinupload
