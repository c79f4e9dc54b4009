#include "framework/FileIO.h"
#include "framework/Win32Text.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

namespace fw {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, DWORD code) {
    throw EFileError(what + " '" + path + "': " + win32::errorMessage(code),
                     static_cast<int>(code));
}

// Closes a file handle on every path out of a function.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { close(); }
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool close() {
        const bool closed = !valid() || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

} // namespace

std::optional<std::string> readWholeFile(const std::string& path) {
    FileHandle file(CreateFileW(win32::widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return std::nullopt;
        fail("Cannot read", path, code);
    }
    std::string content;
    char chunk[8192];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr))
            fail("Cannot read", path, GetLastError());
        if (n == 0) break;
        content.append(chunk, n);
    }
    return content;
}

void writeFileAtomically(const std::string& path, std::string_view content) {
    const std::wstring target = win32::widen(path);
    std::filesystem::path dir = std::filesystem::path(target).parent_path();
    if (dir.empty()) dir = L".";

    // A name no other writer in this process or another one picks at the same time.
    static std::atomic<unsigned> counter{0};
    std::wstring temp;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; handle == INVALID_HANDLE_VALUE; ++attempt) {
        temp = (dir / (L"." + std::filesystem::path(target).filename().wstring() + L".tmp" +
                       std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++)))
                   .wstring();
        handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE &&
            (GetLastError() != ERROR_FILE_EXISTS || attempt > 100)) {
            fail("Cannot write", path, GetLastError());
        }
    }
    FileHandle file(handle);

    auto abandon = [&](DWORD code) {
        file.close();
        DeleteFileW(temp.c_str());
        fail("Cannot write", path, code);
    };
    while (!content.empty()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1u << 20));
        if (!WriteFile(file.get(), content.data(), chunk, &n, nullptr)) abandon(GetLastError());
        content.remove_prefix(n);
    }
    if (!FlushFileBuffers(file.get())) abandon(GetLastError());
    if (!file.close()) abandon(GetLastError());
    // Replacing keeps the old file's attributes and permissions; a new file is simply moved.
    const bool existed = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
    const bool done = existed
                          ? ReplaceFileW(target.c_str(), temp.c_str(), nullptr,
                                         REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                          : MoveFileExW(temp.c_str(), target.c_str(),
                                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!done) {
        const DWORD code = GetLastError();
        DeleteFileW(temp.c_str());
        fail("Cannot write", path, code);
    }
}

} // namespace fw
