#include "app/win32/Answer.h"

#include "app/CommandLine.h"
#include "app/win32/Boxes.h"
#include "framework/Win32Text.h"

#include <windows.h>

namespace app::win32 {

namespace {

bool writeTo(HANDLE handle, const std::string& text) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        // A console shows the accents right only when given UTF-16.
        const std::wstring wide = fw::win32::widen(text);
        return WriteConsoleW(handle, wide.c_str(), static_cast<DWORD>(wide.size()), &written,
                             nullptr) != 0;
    }
    if (GetFileType(handle) == FILE_TYPE_UNKNOWN) return false;
    return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
}

} // namespace

void answer(const std::string& text, bool error) {
    if (writeTo(GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), text)) return;
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        HANDLE console =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        // The prompt came back when the program started: the answer begins on a line of its own.
        const bool done = writeTo(console, "\r\n" + text);
        if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
        FreeConsole();
        if (done) return;
    }
    showBox(nullptr, error ? MB_ICONERROR : MB_ICONINFORMATION, programName, text);
}

} // namespace app::win32
