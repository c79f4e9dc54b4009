#include "tools/torvin-upload/Uploader.h"

#include "comport/ComPort.h"
#include "comport/PortAccess.h"
#ifndef _WIN32
#include "comport/driver/PosixDevice.h"
#endif
#include "tools/torvin-upload/ConsoleWindow.h"
#include "tools/torvin-upload/InterruptWatch.h"
#include "tools/torvin-upload/MainThreadPump.h"
#include "tools/torvin-upload/TracingPort.h"
#include "tools/torvin-upload/UploadSession.h"
#include "upload/frontend/ComPortOperations.h"
#include "upload/frontend/MainWindowPort.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <sys/ioctl.h>
#include <unistd.h>

namespace torvinupload {
namespace {

std::unique_ptr<ProgressDisplay> progressDisplay(bool quiet) {
    if (quiet) return std::make_unique<NoProgress>();
    if (!::isatty(STDOUT_FILENO)) return std::make_unique<ProgressLines>(stdout);
    winsize size{};
    const int columns =
        ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    return std::make_unique<TerminalBar>(stdout, columns);
}

// The device a port name opens: "COM15" is /dev/ttyS14. Empty when the name is the path.
std::string deviceBehind(const std::string& name) {
#ifndef _WIN32
    const auto path = comport::driver::posix::resolveDevicePath(name);
    if (path && *path != name) return *path;
#endif
    return {};
}

// What to do about a port error, on the line after it.
std::string hintFor(const comport::EComPort& error, const std::string& port,
                    const std::string& device) {
    using namespace comport;
    switch (error.errorCode()) {
    case CE_OpenFailed + 1:
        if (auto advice = accessAdvice(port, error.systemErrorCode()); !advice.empty())
            return advice;
        if (!device.empty())
            return "Check that " + device +
                   " is the port the board is cabled to (COMn is /dev/ttyS(n-1); USB adapters "
                   "are /dev/ttyUSBn or /dev/ttyACMn) and that no other program is using it.";
        return "Check the port's name and that no other program is using the port.";
    case CE_WriteFailed + 1:
    case CE_ReadFailed + 1:
        return "The line to the board broke off: check the cable and the board's power, then run "
               "the upload again (the board may hold an incomplete firmware).";
    default:
        return "Check the port and the cable, then run the upload again.";
    }
}

} // namespace

ExitStatus uploadOverPort(const UploadRequest& request) {
    // Before the port exists: its event thread must not take the signals either.
    InterruptWatch interrupts;
    comport::TComPort port;
    upload::frontend::applyMainWindowPortSettings(port);
    // The line is the window's; of the line events only received characters are handled here.
    // Watching the other nine as the window does would add a hand-over to this thread after
    // every record (for "output empty", which nothing here listens to), about a fifth of a whole
    // upload when the line itself is fast.
    port.setEvents(comport::TComEvents{comport::evRxChar});
    upload::frontend::ComPortOperations operations(port);
    std::optional<TracingPort> tracing;
    if (request.trace) tracing.emplace(operations, stderr);
    upload::PortOperations& line =
        tracing ? static_cast<upload::PortOperations&>(*tracing) : operations;

    ConsoleWindow window(request.port, progressDisplay(request.quiet), stdout);
    upload::UploadLogic logic(line, window, request.image, request.totalRecords);
    MainThreadPump pump;
    UploadSession session(logic, window, pump, stderr);

    const std::string device = deviceBehind(request.port);
    session.describe = [&port, &request, &device](const std::exception& e) {
        std::string text = "port " + request.port;
        if (!device.empty()) text += " (" + device + ")";
        text += ": ";
        text += e.what();
        const auto* com = dynamic_cast<const comport::EComPort*>(&e);
        if (!com) return text;
        // The component's message carries the system's code; its text says what it means.
        if (com->systemErrorCode() > 0)
            text += ": " + port.device().systemErrorMessage(
                               static_cast<std::uint32_t>(com->systemErrorCode()));
        text += "\n";
        text += hintFor(*com, request.port, device);
        return text;
    };
    if (!request.quiet) {
        session.onOpened = [&] {
            window.printLine("Port " + request.port + " open (9600 baud, 8N1); sending " +
                             std::to_string(request.totalRecords) + " records.");
        };
    }

    session.interruption = [&interrupts] { return interrupts.signal(); };
    session.onInterrupted = [&port] {
        port.OnRxChar.clear();
        try {
            port.closePort();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "torvin-upload: closing the port: %s\n", e.what());
        }
    };

    port.OnAfterOpen = [&logic](fw::TObject*) { logic.ComPort1AfterOpen(); };
    port.OnRxChar = [&session](fw::TObject*, std::int32_t count) { session.rxChar(count); };

    const ExitStatus status = session.run();

    // Replies that arrive while the port closes have no run left to act on.
    port.OnRxChar.clear();
    port.OnAfterOpen.clear();
    return status;
}

} // namespace torvinupload
