#include "upload/UploadLogic.h"

#include "framework/Convert.h"
#include "upload/UploadTexts.h"

#include <stdexcept>

namespace upload {

namespace {

constexpr std::int32_t maxSends = 5;    // sends of one item before the board counts as silent
constexpr std::int32_t maxRefusals = 4; // "[R]" replies for one record that stop the run

} // namespace

UploadLogic::UploadLogic(PortOperations& port, WindowSurface& window, ImageLines image,
                         std::int32_t totalRecords)
    : port_(port), window_(window), image_(image) {
    setTotalRecords(totalRecords);
}

void UploadLogic::setTotalRecords(std::int32_t total) {
    if (total < 1) throw std::invalid_argument("an upload run needs at least one record");
    totalRecords_ = total;
}

template <typename Steps> void UploadLogic::releasingOnFailure(Steps&& steps) {
    try {
        steps();
    } catch (...) {
        window_.setTimer1Enabled(false);
        window_.setBitBtn6Enabled(true);
        throw;
    }
}

void UploadLogic::BitBtn2Click() {
    if (!port_.Connected()) {
        // Opening only: a failure here leaves the window as it was.
        const std::string chosen = window_.comboBox1Text();
        port_.setPort(chosen.empty() ? std::string(defaultPortName) : chosen);
        openAndShowPort();
        return;
    }
    // A new run from the command, whatever the run in progress was doing.
    releasingOnFailure([this] {
        window_.setBitBtn6Enabled(false);
        errorCount_ = 0;
        recordIndex_ = 0;
        completionShown_ = false;
        port_.writeText(std::string(programmingModeCommand));
        attempts_ = 1;
        window_.setTimer1Enabled(true);
        openAndShowPort();
    });
}

void UploadLogic::openAndShowPort() {
    port_.openPort(); // does nothing when already open
    port_.setDtrLine(true);
    port_.setRtsLine(false);
    window_.setBitBtn2Caption(std::string(captionStart));
    window_.setLabel2(std::to_string(totalRecords_));
    window_.setLabel4("0");
}

void UploadLogic::Timer1Timer() {
    releasingOnFailure([this] {
        if (attempts_ == maxSends) {
            window_.setTimer1Enabled(false);
            window_.showMessage(std::string(messageNoAnswer));
            // Replies may have been acted on while the box was open; the run ends all the same.
            window_.setTimer1Enabled(false);
            window_.setBitBtn6Enabled(true);
            if (port_.Connected()) port_.closePort();
            window_.setLampColor(lampWhite);
            return;
        }
        if (recordIndex_ == 0) {
            port_.writeText(std::string(programmingModeCommand));
            ++attempts_;
            window_.setLabel4(std::to_string(attempts_));
        } else {
            ++attempts_;
            window_.setLabel4(std::to_string(attempts_));
            envia();
        }
    });
}

void UploadLogic::ComPort1RxChar(std::int32_t count) {
    releasingOnFailure([this, count] {
        for (std::int32_t i = 0; i < count; ++i) {
            std::uint8_t byte = 0;
            if (port_.readBytes(&byte, 1) < 1) break; // fewer bytes waiting than announced
            if (byte == '[') {
                replyBuffer_.assign(1, '['); // a reply starts here
            } else if (replyBuffer_.size() <= replyLength) {
                // Past a reply's length the buffer can no longer match anything until the next
                // '[', so what follows need not be kept.
                replyBuffer_.push_back(static_cast<char>(byte));
            }
        }
        actOnReply();
    });
}

void UploadLogic::actOnReply() {
    if (replyBuffer_ == replyNext) {
        replyBuffer_.clear();
        attempts_ = 1;
        if (recordIndex_ == totalRecords_) {
            window_.setBitBtn6Enabled(true);
            window_.setBitBtn2Enabled(false);
            window_.setTimer1Enabled(false);
            // Once per run, however many "[N]" the board sends after the last record.
            if (!completionShown_) {
                completionShown_ = true;
                window_.showMessage(std::string(messageCompleted));
            }
            return;
        }
        ++recordIndex_;
        errorCount_ = 0;
        window_.setLabel7(std::to_string(recordIndex_));
        window_.setProgressBar1(
            static_cast<int>(static_cast<std::int64_t>(recordIndex_) * 100 / totalRecords_));
        envia();
    } else if (replyBuffer_ == replyOldMonitor) {
        stopForMonitorVersion(messageOldMonitor);
    } else if (replyBuffer_ == replyInvalidMonitor || replyBuffer_ == replyInvalidMonitor2) {
        stopForMonitorVersion(messageInvalidMonitor);
    } else if (replyBuffer_ == replyRestart) {
        replyBuffer_.clear();
        recordIndex_ = 1;
        envia();
    } else if (replyBuffer_ == replyResend) {
        replyBuffer_.clear();
        ++errorCount_;
        window_.setLabel8(std::to_string(errorCount_));
        if (errorCount_ == maxRefusals) {
            // The record keeps being refused: stop quietly, the port stays open for a new run.
            window_.setTimer1Enabled(false);
            window_.setBitBtn6Enabled(true);
        } else {
            envia();
        }
    }
    // Anything else stays in the buffer until the next '[' restarts it.
}

void UploadLogic::stopForMonitorVersion(std::string_view message) {
    replyBuffer_.clear();
    window_.setBitBtn2Enabled(false);
    window_.setTimer1Enabled(false);
    window_.showMessage(std::string(message));
    window_.setBitBtn6Enabled(true);
    window_.setTimer1Enabled(false);
}

std::string_view UploadLogic::recordLine(std::int32_t record) const {
    // Record n is line n-1. A "[R]" while the command is still outstanding asks for record 0,
    // which has no line: it goes out as an empty line (':' alone).
    if (record < 1 || static_cast<std::size_t>(record) > image_.size()) return {};
    return image_[static_cast<std::size_t>(record - 1)];
}

void UploadLogic::envia() {
    window_.setTimer1Enabled(false);
    const std::string_view line = recordLine(recordIndex_);
    port_.writeText(":");
    // Every pair of digits after the stored ':' goes out as one raw byte, one write per byte.
    // A pair that is not hexadecimal raises the conversion error and leaves the timer stopped.
    char pair[3] = {'$', 0, 0}; // "$" makes the conversion read hexadecimal
    bool half = false;
    for (std::size_t p = 1; p < line.size(); ++p) {
        pair[half ? 2 : 1] = line[p];
        half = !half;
        if (!half) {
            const auto value = fw::strToInt(std::string_view(pair, sizeof pair));
            const auto byte = static_cast<std::uint8_t>(value & 0xFF);
            port_.writeBytes(&byte, 1);
        }
    }
    window_.setTimer1Enabled(true);
}

void UploadLogic::ComPort1AfterOpen() {
    window_.setLampColor(lampLime);
}

} // namespace upload
