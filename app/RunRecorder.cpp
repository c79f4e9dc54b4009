#include "app/RunRecorder.h"

#include "framework/Translation.h"
#include "frontend/RunDevice.h"
#include "upload/FirmwareImage.h"

#include <algorithm>
#include <cstdlib>

namespace app {

RunRecorder::RunRecorder(std::function<std::string()> portName,
                         std::function<void(const std::string&)> report)
    : portName_(std::move(portName)), report_(std::move(report)) {
    const char* path = std::getenv(environmentVariable);
    if (!path || !*path) return;
    try {
        log_ = std::make_unique<runlog::RunLog>(path);
    } catch (const std::exception& e) {
        report_(std::string(e.what()) + ".\n" +
                fw::tr("The runs of this window will not be recorded: set {1} to a file that can "
                       "be written and start the program again.",
                       {environmentVariable}));
    }
}

void RunRecorder::told(const upload::RunEvent& event) {
    if (!log_) return;
    std::visit(upload::RunEventHandlers{
                   [this](const upload::RunStarted& e) { start(e.totalRecords); },
                   [](const upload::ItemSent&) {},
                   [this](const upload::ItemResent&) {
                       if (run_) ++run_->resends;
                   },
                   [this](const upload::ItemRefused&) {
                       if (run_) ++run_->refusals;
                   },
                   [this](const upload::RunEnded& e) { write(e); },
               },
               event);
}

void RunRecorder::start(std::int32_t totalRecords) {
    // A press during a run starts afresh.
    run_.emplace();
    run_->started = std::chrono::system_clock::now();
    startedOn_ = std::chrono::steady_clock::now();
    run_->program = "torvin-updater";
    run_->port = portName_();
    run_->device = upload::frontend::deviceFileOf(run_->port);
    run_->adapterSerial = upload::frontend::adapterSerialOf(run_->device);
    run_->image = "embedded";
    run_->imageSha256 = runlog::sha256OfLines(upload::firmwareImage());
    run_->imageRecords = totalRecords;
}

void RunRecorder::write(const upload::RunEnded& end) {
    // The first word on a run's end is its outcome: answers acted on while its box is shown,
    // or a failure after it, come too late.
    if (!run_) return;
    runlog::RunRecord r = std::move(*run_);
    run_.reset();
    r.duration = std::chrono::steady_clock::now() - startedOn_;
    r.outcome = upload::outcomeWords(end.outcome, end.record);
    r.exitStatus = static_cast<int>(upload::exitStatusOf(end.outcome));
    r.recordsAcknowledged =
        end.outcome == upload::RunOutcome::completed ? r.imageRecords : std::max(end.record - 1, 0);
    try {
        log_->append(r);
    } catch (const std::exception& e) {
        report_(fw::tr("{1}: the record of the run on {2} is lost.", {e.what(), r.port}));
    }
}

} // namespace app
