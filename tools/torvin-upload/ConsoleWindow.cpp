#include "tools/torvin-upload/ConsoleWindow.h"

#include <charconv>

namespace torvinupload {
namespace {

std::int32_t number(const std::string& text) {
    std::int32_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

} // namespace

ConsoleWindow::ConsoleWindow(std::string portName, std::unique_ptr<ProgressDisplay> display,
                             std::FILE* out)
    : portName_(std::move(portName)), display_(std::move(display)), out_(out) {}

void ConsoleWindow::setBitBtn6Enabled(bool enabled) {
    if (!enabled) {
        // Only the start of a run disables the close button.
        runStarted_ = true;
        runEnded_ = false;
        progress_.started = now_();
        progress_.record = 0;
        progress_.percent = 0;
    } else if (runStarted_) {
        runEnded_ = true;
    }
}

void ConsoleWindow::setLabel2(const std::string& text) {
    progress_.total = number(text);
}

void ConsoleWindow::setLabel4(const std::string& text) {
    progress_.attempt = number(text);
    // "0" is the start; any other value is the timer sending the item again.
    if (progress_.attempt > 0) {
        ++progress_.resends;
        changed();
    }
}

void ConsoleWindow::setLabel8(const std::string&) {
    ++progress_.refusals;
    changed();
}

void ConsoleWindow::setProgressBar1(int position) {
    progress_.percent = position;
}

void ConsoleWindow::noteRecord(std::int32_t record) {
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
    message_ = text;
}

} // namespace torvinupload
