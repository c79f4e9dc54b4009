#include "frontend/OwedFile.h"

#include "framework/Win32Text.h"
#include "frontend/RunDevice.h"

#include <random>

#include <windows.h>

#include <aclapi.h>

// The files live in %ProgramData%\torvin-updater\owed, where every user may create files. A file
// is created exclusively where missing, never opened through a link (a reparse point is opened as
// itself and refused), and used only when it is a plain file on a disk. Windows numbers no
// boots here: a time the count since boot has not reached yet was written before a reboot.

namespace upload::frontend {

namespace {

HANDLE handleOf(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

bool plainFile(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

// Whether the file's owner is this process's user: another user's file at this user's name could
// be rewritten by its owner after this run wrote it.
bool ownedByThisUser(HANDLE h) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool same = false;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        alignas(TOKEN_USER) unsigned char buffer[256];
        DWORD n = 0;
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &n))
            same = EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) != 0;
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return same;
}

HANDLE openFile(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileW(fw::win32::widen(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

} // namespace

std::string OwedFile::systemFolder() {
    wchar_t path[MAX_PATH + 1];
    const DWORD n = GetEnvironmentVariableW(L"ProgramData", path, MAX_PATH + 1);
    const std::string base =
        n > 0 && n <= MAX_PATH ? fw::win32::narrow(std::wstring(path, n)) : "C:\\ProgramData";
    return base + "\\torvin-updater\\owed";
}

BootTime OwedFile::systemClock() {
    // Milliseconds since boot, suspend included; never stepped with the wall clock.
    return {{}, std::chrono::milliseconds(GetTickCount64())};
}

std::string OwedFile::userTag() {
    wchar_t name[257];
    DWORD n = 257;
    if (!GetUserNameW(name, &n) || n == 0) return "user";
    std::string tag;
    for (char c : fw::win32::narrow(std::wstring(name, n - 1)))
        tag += (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ? c : '_';
    return tag;
}

std::string OwedFile::nameOf(const std::string& portName) {
    return deviceFileOf(portName);
}

std::optional<std::string> OwedFile::deviceOf(const std::string&) {
    return std::nullopt; // a COM name is the device's own name
}

std::string OwedFile::randomTag() {
    std::random_device random;
    return std::to_string(random()) + std::to_string(random());
}

std::intptr_t OwedFile::openOwn(const std::string& name, std::string& problem) {
    // The folder, made where missing (its parent first).
    const std::string parent = folder_.substr(0, folder_.find_last_of('\\'));
    CreateDirectoryW(fw::win32::widen(parent).c_str(), nullptr);
    CreateDirectoryW(fw::win32::widen(folder_).c_str(), nullptr);
    const std::string path = pathOf(name);
    HANDLE h = openFile(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
        h = openFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
        BY_HANDLE_FILE_INFORMATION info{};
        if (h != INVALID_HANDLE_VALUE &&
            (!plainFile(h, info) || info.nNumberOfLinks != 1 || !ownedByThisUser(h))) {
            CloseHandle(h);
            h = INVALID_HANDLE_VALUE;
        }
        // Something else stands at this user's name: a name no one can foresee instead.
        for (int tries = 0; h == INVALID_HANDLE_VALUE && tries < 8; ++tries) {
            h = openFile(path + "-" + randomTag(), GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
            if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
        }
    }
    if (h == INVALID_HANDLE_VALUE) {
        problem = fw::win32::errorMessage(GetLastError());
        return -1;
    }
    return reinterpret_cast<std::intptr_t>(h);
}

bool OwedFile::writeLine(std::intptr_t handle, const std::string& text, std::string& problem) {
    HANDLE h = handleOf(handle);
    OVERLAPPED at{}; // offset 0
    DWORD written = 0;
    if (WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, &at) &&
        written == text.size() &&
        SetFilePointer(h, static_cast<LONG>(written), nullptr, FILE_BEGIN) !=
            INVALID_SET_FILE_POINTER &&
        SetEndOfFile(h))
        return true;
    problem = fw::win32::errorMessage(GetLastError());
    return false;
}

std::optional<std::vector<std::string>> OwedFile::namesInFolder(std::string& problem) const {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(fw::win32::widen(folder_ + "\\torvin-owed-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return names;
        problem = fw::win32::errorMessage(e);
        return std::nullopt;
    }
    do
        names.push_back(fw::win32::narrow(found.cFileName));
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::optional<std::string> OwedFile::readSmall(const std::string& name,
                                               std::string& problem) const {
    HANDLE h = openFile(pathOf(name), GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND) return std::string();
        problem = "cannot be read (" + fw::win32::errorMessage(e) + ")";
        return std::nullopt;
    }
    std::optional<std::string> text;
    BY_HANDLE_FILE_INFORMATION info{};
    char bytes[256];
    DWORD n = 0;
    if (!plainFile(h, info))
        problem = "is not a plain file";
    else if (info.nFileSizeHigh != 0 || info.nFileSizeLow > sizeof bytes)
        problem = "is larger than what this program writes there";
    else if (ReadFile(h, bytes, sizeof bytes, &n, nullptr))
        text.emplace(bytes, n);
    else
        problem = "cannot be read (" + fw::win32::errorMessage(GetLastError()) + ")";
    CloseHandle(h);
    return text;
}

void OwedFile::closeHandle(std::intptr_t handle) {
    CloseHandle(handleOf(handle));
}

} // namespace upload::frontend
