// Runs a program in the console this helper was started in (wineconsole gives it one of its own),
// then writes what that console's screen shows to a file in UTF-8, one line per row with its
// trailing blanks dropped, and last a line "status N" with the program's exit status.
//   console-screen OUT PROGRAM [ARGUMENT]...

#include "framework/Win32Text.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

int main() {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count < 3) {
        std::fprintf(stderr, "usage: console-screen OUT PROGRAM [ARGUMENT]...\n");
        return 64;
    }
    std::wstring line;
    for (int i = 2; i < count; ++i)
        line += (i > 2 ? L" \"" : L"\"") + std::wstring(args[i]) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    DWORD status = 255;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                       &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &status);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }

    std::string screen;
    HANDLE out =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (out == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(out, &info)) {
        screen = "(no console to read)\n";
    } else {
        std::wstring row(static_cast<std::size_t>(info.dwSize.X), L' ');
        for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
            DWORD got = 0;
            ReadConsoleOutputCharacterW(out, row.data(), info.dwSize.X, COORD{0, y}, &got);
            std::wstring text = row.substr(0, got);
            text.erase(text.find_last_not_of(L' ') + 1);
            screen += fw::win32::narrow(text) + "\n";
        }
    }
    screen += "status " + std::to_string(status) + "\n";
    std::FILE* file = _wfopen(args[1], L"wb");
    if (!file) return 65;
    std::fwrite(screen.data(), 1, screen.size(), file);
    return std::fclose(file) == 0 ? 0 : 65;
}
