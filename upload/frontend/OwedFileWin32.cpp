#include "upload/frontend/OwedFile.h"

#include "framework/Win32Text.h"

#include <windows.h>

// The file lives in the user's own temporary folder. It is created exclusively where it is
// missing, never opened through a link (a reparse point is opened as itself and refused), and
// used only when it is a plain file on a disk.

namespace upload::frontend {

namespace {

HANDLE handleOf(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

bool plainFile(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ==
               0 &&
           info.nNumberOfLinks == 1;
}

HANDLE openFile(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileW(fw::win32::widen(path).c_str(), access, FILE_SHARE_READ, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

} // namespace

std::string OwedFile::folder() {
    wchar_t path[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, path);
    if (n == 0 || n > MAX_PATH) {
        warnOnce("cannot find the temporary folder: " + fw::win32::errorMessage(GetLastError()));
        return {};
    }
    std::string dir = fw::win32::narrow(std::wstring(path, n));
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/'))
        dir.pop_back();
    return dir;
}

bool OwedFile::openForWriting(const std::string& path) {
    HANDLE h = openFile(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
        h = openFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) {
        warnOnce("cannot open " + path + ": " + fw::win32::errorMessage(GetLastError()));
        return false;
    }
    if (!plainFile(h)) {
        CloseHandle(h);
        warnOnce(path + " is not a plain file");
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    lastWritten_ = -1;
    return true;
}

bool OwedFile::writeLine(const std::string& text) {
    HANDLE h = handleOf(handle_);
    OVERLAPPED at{}; // offset 0
    DWORD written = 0;
    if (WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, &at) &&
        written == text.size())
        return true;
    warnOnce("cannot write the file of what the board owes: " +
             fw::win32::errorMessage(GetLastError()));
    return false;
}

std::optional<std::string> OwedFile::readFile(const std::string& path) {
    HANDLE h = openFile(path, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND)
            warnOnce("cannot read " + path + ": " + fw::win32::errorMessage(e));
        return std::nullopt;
    }
    std::optional<std::string> text;
    char bytes[128];
    DWORD n = 0;
    if (!plainFile(h))
        warnOnce(path + " is not a plain file; it is not trusted");
    else if (ReadFile(h, bytes, sizeof bytes, &n, nullptr))
        text.emplace(bytes, n);
    else
        warnOnce("cannot read " + path + ": " + fw::win32::errorMessage(GetLastError()));
    CloseHandle(h);
    return text;
}

void OwedFile::close() {
    if (handle_ != -1) CloseHandle(handleOf(handle_));
    handle_ = -1;
    name_.clear();
}

} // namespace upload::frontend
