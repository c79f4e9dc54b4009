#include "cli/torvin-upload/ConsoleWindow.h"

namespace torvinupload {

ConsoleWindow::ConsoleWindow(std::string portName, std::unique_ptr<ProgressDisplay> display,
                             std::FILE* out)
    : portName_(std::move(portName)), display_(std::move(display)), out_(out) {}

void ConsoleWindow::told(const upload::RunEvent& event) {
    std::visit(upload::RunEventHandlers{
                   [this](const upload::RunStarted& e) { started(e.totalRecords); },
                   [this](const upload::ItemSent& e) { sending(e.record); },
                   [this](const upload::ItemResent& e) {
                       progress_.attempt = e.send;
                       ++progress_.resends;
                       changed();
                   },
                   [this](const upload::ItemRefused&) {
                       ++progress_.refusals;
                       changed();
                   },
                   [this](const upload::RunEnded& e) {
                       // The first word on the run's end is its outcome; answers that come
                       // while a box is shown change nothing.
                       if (runGoingOn()) end_ = e;
                   },
               },
               event);
}

void ConsoleWindow::started(std::int32_t total) {
    runStarted_ = true;
    end_.reset();
    progress_.total = total;
    progress_.started = now_();
    progress_.record = 0;
    progress_.percent = 0;
}

void ConsoleWindow::setProgressBar1(int position) {
    progress_.percent = position;
}

void ConsoleWindow::sending(std::int32_t record) {
    if (!runGoingOn() || record == progress_.record) return;
    if (record == 1 && progress_.record == 0) progress_.paceStarted = now_();
    // "[L]" sends record 1 again without touching a counter of the window.
    if (record == 1 && progress_.record > 1) {
        ++progress_.restarts;
        progress_.paceStarted = now_();
    }
    progress_.record = record;
    changed();
}

void ConsoleWindow::changed() {
    if (runStarted_ && !progressFinished_) display_->update(progress_, now_());
}

void ConsoleWindow::finishProgress() {
    if (progressFinished_) return;
    progressFinished_ = true;
    if (runStarted_) display_->finish(progress_, now_());
}

void ConsoleWindow::printLine(const std::string& text) {
    std::fprintf(out_, "%s%s\n", linePrefix_.c_str(), text.c_str());
    std::fflush(out_);
}

void ConsoleWindow::showMessage(const std::string& text) {
    finishProgress();
    printLine(text);
}

} // namespace torvinupload
