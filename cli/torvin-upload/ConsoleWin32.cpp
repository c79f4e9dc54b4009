#include "cli/torvin-upload/Console.h"

#include "cli/torvin-upload/Utf8Pieces.h"
#include "framework/Win32Text.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace torvinupload {

namespace {

// Standard output's console, when it goes to one: a handle of the program's own, since the
// handle the program was given is closed once standard output goes through its pipe.
HANDLE outputConsole = nullptr;

HANDLE output() {
    return outputConsole ? outputConsole : GetStdHandle(STD_OUTPUT_HANDLE);
}

// A handle to the same console of the program's own: redirecting a stream closes the handle the
// stream had, and standard output and standard error may share that one.
HANDLE ownCopy(HANDLE console) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), console, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

// A stream of the C library that goes to a console: the program's UTF-8 bytes go through a pipe
// to a thread that shows them with WriteConsoleW. Written as bytes, the console would read them
// in its code page ("TRANSMISSÃO" as "TRANSMISSÃ\u0083O"); changing that code page would outlive
// the program in the user's console. Redirected to a file or a pipe, a stream keeps its bytes.
class ConsoleStream {
public:
    ConsoleStream(std::FILE* stream, HANDLE console) : stream_(stream), console_(console) {}

    bool start() {
        HANDLE read = nullptr, write = nullptr;
        if (!CreatePipe(&read, &write, nullptr, 0)) return false;
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(write), _O_WRONLY | _O_TEXT);
        if (fd < 0) {
            CloseHandle(read);
            CloseHandle(write);
            return false;
        }
        std::fflush(stream_);
        if (_dup2(fd, _fileno(stream_)) != 0) {
            _close(fd);
            CloseHandle(read);
            return false;
        }
        _close(fd);
        read_ = read;
        shower_ = std::thread([this] { show(); });
        return true;
    }

    // Shows what is still on its way; the stream is closed after.
    void finish() {
        if (!shower_.joinable()) return;
        std::fflush(stream_);
        _close(_fileno(stream_)); // the pipe's last writer: the thread reads its end
        shower_.join();
        CloseHandle(read_);
    }

private:
    void show() {
        std::string pending;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(read_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            pending.append(buffer, got);
            const std::size_t whole = wholeUtf8Length(pending);
            write(std::string_view(pending).substr(0, whole));
            pending.erase(0, whole);
        }
        write(pending);
    }

    void write(std::string_view utf8) {
        if (utf8.empty()) return;
        const std::wstring wide = fw::win32::widen(utf8);
        DWORD written = 0;
        for (std::size_t at = 0; at < wide.size(); at += written) {
            if (!WriteConsoleW(console_, wide.data() + at, static_cast<DWORD>(wide.size() - at),
                               &written, nullptr) ||
                written == 0)
                return; // the console is gone: nothing left to show it on
        }
    }

    std::FILE* stream_;
    HANDLE console_;
    HANDLE read_ = nullptr;
    std::thread shower_;
};

std::vector<ConsoleStream*>& consoleStreams() {
    static std::vector<ConsoleStream*> streams;
    return streams;
}

void finishConsoleStreams() {
    for (ConsoleStream* s : consoleStreams())
        s->finish();
}

} // namespace

void prepareConsole() {
    // Both consoles are taken before either stream is redirected.
    std::vector<std::pair<std::FILE*, HANDLE>> consoles;
    for (auto [which, stream] :
         {std::pair{STD_OUTPUT_HANDLE, stdout}, {STD_ERROR_HANDLE, stderr}}) {
        DWORD mode = 0;
        HANDLE h = GetStdHandle(which);
        if (!GetConsoleMode(h, &mode)) continue; // a file or a pipe: the bytes as they are
        // The escape sequences the progress display redraws with.
        SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING | ENABLE_PROCESSED_OUTPUT);
        HANDLE own = ownCopy(h);
        if (!own) continue; // left as it is: written as bytes, accents may show wrongly
        consoles.emplace_back(stream, own);
        if (stream == stdout) outputConsole = own;
    }
    for (auto [stream, console] : consoles) {
        auto* s = new ConsoleStream(stream, console); // lives until the program ends
        if (s->start())
            consoleStreams().push_back(s);
        else
            delete s;
    }
    if (!consoleStreams().empty()) std::atexit(finishConsoleStreams);
}

void writeBytesAsStored() {
    // Text mode would write each line feed as a carriage return and a line feed.
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
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
