#include "app/RunRecorder.h"

#include "framework/Translation.h"
#include "upload/UploadLogic.h"
#include "upload/UploadTexts.h"
#include "upload/frontend/RunDevice.h"

#include <algorithm>
#include <cstdlib>

namespace app {
namespace {

// torvin-upload's exit status for the same outcome, so that the two programs' records compare.
int statusFor(const std::string& outcome) {
    if (outcome == upload::messageCompleted) return 0;
    if (outcome == upload::messageNoAnswer) return 2;
    if (outcome == upload::messageOldMonitor || outcome == upload::messageInvalidMonitor) return 3;
    if (outcome.ends_with("RECUSADO PELA PLACA !")) return 4;
    if (outcome == upload::messageUncertain) return 6;
    return 5;
}

} // namespace

RunRecorder::RunRecorder(upload::WindowSurface& window,
                         std::function<void(std::function<void()>)> later,
                         std::function<void(const std::string&)> report)
    : window_(window), later_(std::move(later)), report_(std::move(report)) {
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

RunRecorder::~RunRecorder() {
    *alive_ = false;
}

void RunRecorder::setBitBtn6Enabled(bool enabled) {
    window_.setBitBtn6Enabled(enabled);
    if (!log_ || !logic_) return;
    if (!enabled) {
        // Only the start of a run disables the close button; a press during a run starts afresh.
        run_.emplace();
        run_->started = std::chrono::system_clock::now();
        startedOn_ = std::chrono::steady_clock::now();
        run_->program = "torvin-updater";
        run_->port = window_.comboBox1Text().empty() ? "COM1" : window_.comboBox1Text();
        run_->device = upload::frontend::deviceFileOf(run_->port);
        run_->adapterSerial = upload::frontend::adapterSerialOf(run_->device);
        run_->image = "embedded";
        run_->imageSha256 = runlog::sha256OfLines(upload::firmwareImage());
        run_->imageRecords = logic_->totalRecords();
        ending_ = false;
    } else if (run_ && !ending_) {
        // The message box that tells how, if any, comes after this in the same handler.
        ending_ = true;
        run_->duration = std::chrono::steady_clock::now() - startedOn_;
        later_([this, alive = alive_] {
            if (*alive) write();
        });
    }
}

void RunRecorder::setLabel4(const std::string& text) {
    if (run_ && text != "0") ++run_->resends;
    window_.setLabel4(text);
}

void RunRecorder::setLabel8(const std::string& text) {
    if (run_) ++run_->refusals;
    window_.setLabel8(text);
}

void RunRecorder::showMessage(const std::string& text) {
    if (run_ && run_->outcome.empty()) run_->outcome = text;
    window_.showMessage(text);
}

void RunRecorder::write() {
    if (!run_ || !logic_) return;
    runlog::RunRecord r = std::move(*run_);
    run_.reset();
    const std::int32_t record = logic_->recordIndex();
    if (r.outcome.empty() && logic_->errorCount() == 4)
        r.outcome = upload::recordRejectedMessage(record);
    // Nothing else ends a run without a word: the port failed, and its message is on the screen.
    if (r.outcome.empty()) r.outcome = "port error";
    r.exitStatus = statusFor(r.outcome);
    r.recordsAcknowledged = r.exitStatus == 0 ? r.imageRecords : std::max(record - 1, 0);
    try {
        log_->append(r);
    } catch (const std::exception& e) {
        report_(fw::tr("{1}: the record of the run on {2} is lost.", {e.what(), r.port}));
    }
}

} // namespace app
