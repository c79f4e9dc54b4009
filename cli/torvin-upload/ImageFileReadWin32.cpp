// Reading an image file's text on Windows.

#include "cli/torvin-upload/ImageFile.h"

#include "framework/Win32Text.h"

#include <windows.h>

namespace torvinupload {

std::optional<std::string> ImageFile::readImageText(const std::string& path, std::string& error) {
    auto failed = [&](const std::string& what) {
        error = path + ": " + what;
        return std::nullopt;
    };
    // A folder opens only with backup semantics, so that it can be told apart from a missing file.
    HANDLE file = CreateFileW(fw::win32::widen(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failed(fw::win32::errorMessage(GetLastError()));
    struct Closer {
        HANDLE h;
        ~Closer() { CloseHandle(h); }
    } closer{file};

    // Nothing is read before the handle is known to be a file on a disk: a device (a serial port
    // named by mistake, a console) or a pipe is never read.
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info))
        return failed("is not a file on a disk, not an image file; give a regular file");
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return failed("is a directory, not an image file; give a regular file");
    auto tooLarge = [&] {
        return failed("larger than " + std::to_string(maxImageBytes / (1024 * 1024)) +
                      " MB, far more than any image for this board (32 KB of program memory); "
                      "is it the right file?");
    };
    const auto size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > maxImageBytes) return tooLarge();

    std::string text;
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr))
            return failed(fw::win32::errorMessage(GetLastError()));
        if (n == 0) break;
        // The file may have grown since it was looked at.
        if (text.size() + n > maxImageBytes) return tooLarge();
        text.append(buffer, n);
    }
    return text;
}

} // namespace torvinupload
