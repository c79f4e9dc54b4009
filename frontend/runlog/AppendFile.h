#pragma once

// A file that lines are appended to, whole, by any number of programs at once, each line flushed
// to the disk before append() returns.

#include <cstdint>
#include <string>
#include <string_view>

namespace runlog {

class AppendFile {
public:
    // Opens (creating) the file; throws std::runtime_error ("cannot open the run log FILE: why").
    explicit AppendFile(std::string path);
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // One write at the end of the file, then a flush; throws std::runtime_error ("cannot write
    // the run log FILE: why").
    void append(std::string_view line);

private:
    std::string path_;
    std::intptr_t handle_ = -1;
};

} // namespace runlog
