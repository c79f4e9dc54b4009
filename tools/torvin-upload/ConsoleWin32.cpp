#include "tools/torvin-upload/Console.h"

#include "framework/Win32Text.h"

#include <windows.h>

#include <shellapi.h>

namespace torvinupload {

namespace {

HANDLE output() {
    return GetStdHandle(STD_OUTPUT_HANDLE);
}

} // namespace

void prepareConsole() {
    // Accents as they are: the program's texts are UTF-8.
    SetConsoleOutputCP(CP_UTF8);
    for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        DWORD mode = 0;
        HANDLE h = GetStdHandle(which);
        if (GetConsoleMode(h, &mode))
            SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING | ENABLE_PROCESSED_OUTPUT);
    }
}

std::vector<std::string> programArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(fw::win32::narrow(wide[i]));
    LocalFree(wide);
    return args;
}

bool outputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(output(), &mode) != 0;
}

int terminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(output(), &info)) return 80;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : 80;
}

} // namespace torvinupload
