// monitor-sim: a simulated Torvin04/05 board Monitor on a pseudo-terminal. See --help.
#include "cli/common/CommandLine.h"
#include "tools/monitor-sim/FlashMemory.h"
#include "tools/monitor-sim/HexFile.h"
#include "tools/monitor-sim/Monitor.h"
#include "tools/monitor-sim/Options.h"
#include "tools/monitor-sim/PseudoTerminal.h"
#include "tools/monitor-sim/Server.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr int exitStopped = 0;
constexpr int exitFailure = 1;
constexpr int exitVanished = 3;

// SIGTERM, SIGINT and SIGHUP end the simulator in order (memory saved, link removed): they are
// blocked and read from a descriptor the server waits on.
int signalDescriptor() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

} // namespace

int main(int argc, char** argv) {
    using namespace monitorsim;
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) return toolcommon::usageError("monitor-sim", parsed.error);
    const Options& options = parsed.options;
    if (options.version) return toolcommon::printVersion("monitor-sim");
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return exitStopped;
    }

    FlashMemory memory = FlashMemory::board();
    Monitor monitor(options.faults, memory);
    std::uint64_t bytesReceived = 0;
    int status = exitStopped;
    bool served = false;
    try {
        const int signals = signalDescriptor();
        if (signals < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
        PseudoTerminal terminal;
        std::optional<SymbolicLink> link;
        if (!options.linkPath.empty()) link.emplace(terminal.serialPath(), options.linkPath);
        std::printf("%s\n", terminal.serialPath().c_str());
        std::fflush(stdout);

        served = true;
        Server server(options, terminal, monitor, stderr);
        try {
            status = server.run(signals) == Server::End::vanished ? exitVanished : exitStopped;
        } catch (...) {
            bytesReceived = server.bytesReceived();
            throw;
        }
        bytesReceived = server.bytesReceived();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "monitor-sim: %s\n", e.what());
        status = exitFailure;
    }

    if (served && !options.savePath.empty()) {
        try {
            saveIntelHex(memory, options.savePath);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "monitor-sim: %s\n", e.what());
            status = exitFailure;
        }
    }
    const Statistics& s = monitor.statistics();
    std::fprintf(stderr,
                 "monitor-sim: %llu records accepted, %llu rejected, %llu unanswered, %zu data "
                 "bytes written, %llu bytes received\n",
                 static_cast<unsigned long long>(s.recordsAccepted),
                 static_cast<unsigned long long>(s.recordsRejected),
                 static_cast<unsigned long long>(s.unanswered), memory.bytesProgrammed(),
                 static_cast<unsigned long long>(bytesReceived));
    return status;
}
