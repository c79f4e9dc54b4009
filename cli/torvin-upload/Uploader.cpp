#include "cli/torvin-upload/Uploader.h"

#include "cli/torvin-upload/Console.h"
#include "cli/torvin-upload/ConsoleWindow.h"
#include "cli/torvin-upload/TracingPort.h"
#include "comport/ComPort.h"
#include "framework/Translation.h"
#include "frontend/ComPortOperations.h"
#include "frontend/MainWindowPort.h"
#include "frontend/PortFailure.h"
#include "frontend/RunDevice.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

namespace torvinupload {

std::unique_ptr<ProgressDisplay> progressDisplay(bool quiet) {
    if (quiet) return std::make_unique<NoProgress>();
    if (!outputIsTerminal()) return std::make_unique<ProgressLines>(stdout);
    return std::make_unique<TerminalBar>(stdout, terminalColumns());
}

struct BoardUpload::Parts {
    // Declared in the order they need each other: the port goes last, after the handlers that
    // point at the rest are cleared.
    comport::TComPort port;
    upload::frontend::ComPortOperations operations{port};
    std::optional<TracingPort> tracing;
    ConsoleWindow window;
    upload::UploadLogic logic;
    UploadSession session;
    std::string device;

    Parts(const UploadRequest& request, BoardOutput& output, EventPump& pump)
        : window(request.port, std::move(output.display), output.out),
          logic(line(request, output), window, request.image, request.totalRecords),
          session(logic, window, pump, output.errors),
          device(upload::frontend::devicePathOf(request.port)) {
        // Only a device that differs from the name is worth telling ("COM15" is /dev/ttyS14).
        if (device == request.port) device.clear();
    }

    upload::PortOperations& line(const UploadRequest& request, const BoardOutput& output) {
        if (!request.trace) return operations;
        tracing.emplace(operations, output.errors);
        return *tracing;
    }
};

BoardUpload::BoardUpload(const UploadRequest& request, BoardOutput output, EventPump& pump,
                         std::function<int()> interruption)
    : request_(request) {
    const std::string linePrefix = output.linePrefix;
    parts_ = std::make_unique<Parts>(request_, output, pump);
    Parts& p = *parts_;
    p.window.setLinePrefix(linePrefix);
    upload::frontend::applyMainWindowPortSettings(p.port);
    // The line is the window's; of the line events only received characters are handled here.
    // Watching the other nine as the window does would add a hand-over to this thread after
    // every record (for "output empty", which nothing here listens to), about a fifth of a whole
    // upload when the line itself is fast.
    p.port.setEvents(comport::TComEvents{comport::evRxChar});

    p.session.describe = [this](const std::exception& e) {
        const Parts& p = *parts_;
        std::string text = "port " + request_.port;
        if (!p.device.empty()) text += " (" + p.device + ")";
        text += ": ";
        text += e.what();
        const auto* com = dynamic_cast<const comport::EComPort*>(&e);
        if (!com) return text;
        const auto failure = upload::frontend::describePortFailure(
            *com, p.port, request_.port, p.logic.recordIndex(),
            upload::frontend::FailureReader::commandLine);
        // The component's message carries the system's code; its text says what it means.
        if (!failure.systemWords.empty()) text += ": " + failure.systemWords;
        return text + "\n" + failure.whatToDo;
    };
    if (!request_.quiet) {
        // With several boards the line already starts with the port's name.
        const std::string records = std::to_string(request_.totalRecords);
        const std::string opened =
            linePrefix.empty() ? fw::tr("Port {1} open (9600 baud, 8N1); sending {2} records.",
                                        {request_.port, records})
                               : fw::tr("open (9600 baud, 8N1); sending {1} records.", {records});
        p.session.onOpened = [this, opened] {
            parts_->window.printLine(opened);
            // A wait this long without a word would look like a hang.
            const auto wait =
                std::chrono::ceil<std::chrono::seconds>(parts_->logic.earlierAnswersWait());
            if (wait.count() > 2)
                parts_->window.printLine(
                    fw::tr("Waiting up to {1} s for the answers the board may still owe an "
                           "earlier run on this port.",
                           {std::to_string(wait.count())}));
        };
    }
    p.session.interruption = std::move(interruption);
    p.session.onInterrupted = [this] {
        Parts& p = *parts_;
        p.port.OnRxChar.clear();
        try {
            p.port.closePort();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "torvin-upload: closing the port %s: %s\n", request_.port.c_str(),
                         e.what());
        }
    };
    p.port.OnAfterOpen = [&p](fw::TObject*) { p.logic.ComPort1AfterOpen(); };
    p.port.OnRxChar = [&p](fw::TObject*, std::int32_t count) { p.session.rxChar(count); };
}

BoardUpload::~BoardUpload() {
    // Replies that arrive while the port closes have no run left to act on.
    parts_->port.OnRxChar.clear();
    parts_->port.OnAfterOpen.clear();
}

std::optional<ExitStatus> BoardUpload::ended(std::optional<ExitStatus> status) {
    if (status && !status_) {
        status_ = status;
        endedAt_ = Clock::now();
    }
    return status;
}

std::optional<ExitStatus> BoardUpload::start() {
    startedAt_ = std::chrono::system_clock::now();
    startedOn_ = Clock::now();
    return ended(parts_->session.start());
}

std::optional<ExitStatus> BoardUpload::poll() {
    if (status_) return status_;
    return ended(parts_->session.poll());
}

std::optional<BoardUpload::Clock::time_point> BoardUpload::nextWake() const {
    if (status_) return std::nullopt;
    return parts_->session.nextWake();
}

std::string BoardUpload::devicePath() const {
    return upload::frontend::deviceFileOf(request_.port);
}

const std::string& BoardUpload::outcomeText() const {
    return parts_->session.outcomeText();
}

const RunProgress& BoardUpload::progress() const {
    return parts_->window.progress();
}

std::int32_t BoardUpload::recordsAcknowledged() const {
    if (status_ == ExitStatus::completed) return request_.totalRecords;
    return std::max(parts_->logic.recordIndex() - 1, 0);
}

} // namespace torvinupload
