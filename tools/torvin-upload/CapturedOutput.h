#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace torvinupload {

// A stream that keeps what is written to it, for output that must wait (a board's failure while
// the terminal shows the progress block).
class CapturedOutput {
public:
    CapturedOutput() : file_(open_memstream(&buffer_, &size_)) {}
    ~CapturedOutput() {
        if (file_) std::fclose(file_);
        std::free(buffer_);
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    // Null when no memory was left for it; the caller then writes directly.
    std::FILE* file() const { return file_; }
    std::string text() {
        if (!file_) return {};
        std::fflush(file_);
        return std::string(buffer_, size_);
    }

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

} // namespace torvinupload
