#include "frontend/runlog/AppendFile.h"

#include "framework/Win32Text.h"

#include <windows.h>

#include <stdexcept>

namespace runlog {

namespace {
HANDLE handleOf(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}
} // namespace

AppendFile::AppendFile(std::string path) : path_(std::move(path)) {
    // Append-only access: every write goes to the end of the file, whoever else appends; others
    // may read and append meanwhile.
    HANDLE h = CreateFileW(fw::win32::widen(path_).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open the run log " + path_ + ": " +
                                 fw::win32::errorMessage(GetLastError()));
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

AppendFile::~AppendFile() {
    if (handle_ != -1) CloseHandle(handleOf(handle_));
}

void AppendFile::append(std::string_view line) {
    DWORD written = 0;
    if (!WriteFile(handleOf(handle_), line.data(), static_cast<DWORD>(line.size()), &written,
                   nullptr) ||
        written != line.size())
        throw std::runtime_error("cannot write the run log " + path_ + ": " +
                                 fw::win32::errorMessage(GetLastError()));
    // A console or a pipe cannot be flushed; a file on the disk is kept through a power cut.
    if (!FlushFileBuffers(handleOf(handle_)) && GetFileType(handleOf(handle_)) == FILE_TYPE_DISK)
        throw std::runtime_error("cannot write the run log " + path_ + ": " +
                                 fw::win32::errorMessage(GetLastError()));
}

} // namespace runlog
