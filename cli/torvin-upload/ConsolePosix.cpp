#include "cli/torvin-upload/Console.h"

#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace torvinupload {

void prepareConsole() {
    // A closed reader of our output must not kill the program in the middle of a run: the write
    // fails instead and the run goes on to its end.
    std::signal(SIGPIPE, SIG_IGN);
}

void writeBytesAsStored() {} // POSIX streams never change the bytes

std::vector<std::string> programArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

bool outputIsTerminal() {
    return ::isatty(STDOUT_FILENO);
}

int terminalColumns() {
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

} // namespace torvinupload
