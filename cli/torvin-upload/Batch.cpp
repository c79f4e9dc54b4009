#include "cli/torvin-upload/Batch.h"

#include "cli/torvin-upload/BatchDisplay.h"
#include "cli/torvin-upload/CapturedOutput.h"
#include "cli/torvin-upload/Console.h"
#include "cli/torvin-upload/InterruptWatch.h"
#include "cli/torvin-upload/MainThreadPump.h"
#include "cli/torvin-upload/UploadSession.h"
#include "cli/torvin-upload/Uploader.h"
#include "framework/Translation.h"
#include "frontend/runlog/RunLog.h"

#include <csignal>
#include <memory>
#include <optional>

namespace torvinupload {
namespace {

bool interruptedBy(ExitStatus s) {
    return s == ExitStatus::interrupted || s == ExitStatus::terminated;
}

// What a batch needs besides the boards: where their delayed output waits, and the log's fate.
struct Batch {
    const BatchRequest& request;
    std::vector<std::unique_ptr<BoardUpload>> boards;
    std::vector<std::unique_ptr<CapturedOutput>> errors;
    std::optional<BoardLines> lines;
    CapturedOutput hiddenLines; // lines a board prints while the block holds the terminal
    std::vector<std::string> logFailures;
    // Each board's device and adapter serial number, looked up as its run starts: an adapter
    // pulled out during the run is still named by what it was.
    std::vector<std::pair<std::string, std::string>> devices;

    void lookUpDevice(std::size_t index) {
        if (!request.log) return;
        devices.resize(boards.size());
        auto& [device, serial] = devices[index];
        device = boards[index]->devicePath();
        if (request.adapterSerial) serial = request.adapterSerial(device);
    }

    void ended(std::size_t index) {
        const BoardUpload& board = *boards[index];
        if (lines) lines->setOutcome(index, board.outcomeText());
        record(index);
    }

    void record(std::size_t index) {
        if (!request.log) return;
        const BoardUpload& board = *boards[index];
        runlog::RunRecord r;
        r.started = board.startedAt();
        r.program = "torvin-upload";
        r.port = board.port();
        r.device = devices[index].first;
        r.adapterSerial = devices[index].second;
        r.image = request.imageName;
        r.imagePath = request.imagePath;
        r.imageWarning = request.imageWarning;
        r.imageSha256 = request.imageSha256;
        r.imageRecords = request.totalRecords;
        r.outcome = board.outcomeText();
        r.exitStatus = static_cast<int>(*board.status());
        r.recordsAcknowledged = board.recordsAcknowledged();
        r.resends = board.progress().resends;
        r.refusals = board.progress().refusals;
        r.duration = board.duration();
        try {
            request.log->append(r);
        } catch (const std::exception& e) {
            logFailures.push_back(std::string(e.what()) + "; the record of the run on " +
                                  board.port() + " is lost");
        }
    }
};

} // namespace

ExitStatus uploadBoards(const BatchRequest& request) {
    // Before any port exists: their event threads must not take the signals either.
    InterruptWatch interrupts;
    MainThreadPump pump;
    Batch batch{request, {}, {}, {}, {}, {}, {}};
    const bool several = request.ports.size() > 1;
    if (several && !request.quiet && outputIsTerminal())
        batch.lines.emplace(stdout, terminalColumns(), request.ports);

    for (std::size_t i = 0; i < request.ports.size(); ++i) {
        const std::string& port = request.ports[i];
        BoardOutput output;
        if (several) {
            batch.errors.push_back(std::make_unique<CapturedOutput>());
            if (std::FILE* captured = batch.errors.back()->file()) output.errors = captured;
            output.linePrefix = port + ": ";
            if (batch.lines && batch.hiddenLines.file()) output.out = batch.hiddenLines.file();
        }
        if (!several)
            output.display = progressDisplay(request.quiet);
        else if (batch.lines)
            output.display = batch.lines->display(i);
        else if (request.quiet)
            output.display = std::make_unique<NoProgress>();
        else
            output.display = std::make_unique<ProgressLines>(stdout, output.linePrefix);
        UploadRequest one{port, request.image, request.totalRecords, request.quiet, request.trace};
        batch.boards.push_back(std::make_unique<BoardUpload>(
            one, std::move(output), pump, [&interrupts] { return interrupts.signal(); }));
    }

    for (std::size_t i = 0; i < batch.boards.size(); ++i) {
        batch.lookUpDevice(i);
        if (batch.boards[i]->start()) batch.ended(i);
    }
    // Every board's retry timer and every port's hand-over are served here, in turn: the queue
    // runs the hand-overs in the order they came, so no port can starve another.
    for (;;) {
        std::optional<BoardUpload::Clock::time_point> wake;
        for (std::size_t i = 0; i < batch.boards.size(); ++i) {
            BoardUpload& board = *batch.boards[i];
            if (board.ended()) continue;
            if (board.poll()) {
                batch.ended(i);
                continue;
            }
            const auto next = board.nextWake();
            if (next && (!wake || *next < *wake)) wake = next;
        }
        if (!wake) break;
        pump.serve(*wake);
    }
    if (batch.lines) batch.lines->finish();

    // Failures held back while the terminal showed the block, or to keep them whole.
    std::vector<const BoardUpload*> stopped;
    for (std::size_t i = 0; i < batch.boards.size(); ++i) {
        const BoardUpload& board = *batch.boards[i];
        if (interruptedBy(*board.status())) {
            stopped.push_back(&board);
        } else if (several) {
            std::fputs(batch.errors[i]->text().c_str(), stderr);
        }
    }
    std::optional<ExitStatus> signalled;
    if (!stopped.empty()) signalled = *stopped.front()->status();
    if (several && signalled) {
        const int signal = signalled == ExitStatus::terminated ? SIGTERM : SIGINT;
        std::fprintf(stderr, "torvin-upload: %s\n%s\n",
                     fw::tr("stopped by {1}; every port is closed.", {stopName(signal)}).c_str(),
                     fw::tr("These boards may hold an incomplete firmware: run the upload again "
                            "for them before using them:")
                         .c_str());
        for (const BoardUpload* board : stopped)
            std::fprintf(stderr, "  %s (%s)\n", board->port().c_str(),
                         board->outcomeText().c_str());
    }
    for (const std::string& failure : batch.logFailures)
        std::fprintf(stderr, "torvin-upload: %s\n", failure.c_str());
    std::fflush(stderr);

    if (several) {
        std::vector<BoardSummary> rows;
        for (const auto& board : batch.boards)
            rows.push_back({board->port(), board->outcomeText(), board->recordsAcknowledged(),
                            request.totalRecords, board->progress().resends,
                            board->progress().refusals, board->duration()});
        const int columns = outputIsTerminal() ? terminalColumns() : 0;
        std::fputs(("\n" + summaryTable(rows, columns)).c_str(), stdout);
        std::fflush(stdout);
    }

    if (signalled) return *signalled;
    for (const auto& board : batch.boards)
        if (*board->status() != ExitStatus::completed) return *board->status();
    return batch.logFailures.empty() ? ExitStatus::completed : ExitStatus::logLost;
}

} // namespace torvinupload
