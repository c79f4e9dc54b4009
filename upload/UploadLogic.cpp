#include "upload/UploadLogic.h"

#include "framework/Convert.h"
#include "upload/UploadTexts.h"

#include <algorithm>
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
        // Opening only: a failure here leaves the window as it was. A new connection owes
        // nothing from an earlier one.
        forgetOwed();
        const std::string chosen = window_.comboBox1Text();
        port_.setPort(chosen.empty() ? std::string(defaultPortName) : chosen);
        openAndShowPort();
        return;
    }
    // A new run from the command, whatever the run in progress was doing. Answers still on
    // their way to the run cut short must not count for the new one.
    releasingOnFailure([this] {
        window_.setBitBtn6Enabled(false);
        errorCount_ = 0;
        recordIndex_ = 0;
        completionShown_ = false;
        moveOn();
        sendCommand();
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
            forgetOwed(); // closing drops whatever was on its way
            window_.setLampColor(lampWhite);
            return;
        }
        // A second has passed since the latest send. Answers still owed for earlier items are
        // taken as lost from here on, so that they cannot swallow answers to this one for ever.
        // Other copies of this item stay owed: a busy board may yet answer them, and any of
        // their answers speaks for this item.
        staleAnswers_ = 0;
        if (holding_) {
            // The held item has not been sent yet: this is its first send, not a retry.
            holding_ = false;
            envia();
            return;
        }
        if (recordIndex_ == 0) {
            sendCommand();
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
        // These bytes were in the port before this handler sent anything: they can only answer
        // sends made before it ran.
        std::int32_t answerable = staleAnswers_ + copiesOwed_;
        for (std::int32_t i = 0; i < count; ++i) {
            std::uint8_t byte = 0;
            if (port_.readBytes(&byte, 1) < 1) break; // fewer bytes waiting than announced
            if (byte == '[') {
                // A complete reply followed by the next one is still an answer.
                if (isReply(replyBuffer_)) takeReply(answerable);
                replyBuffer_.assign(1, '['); // a reply starts here
            } else if (replyBuffer_.size() <= replyLength) {
                // Past a reply's length the buffer can no longer match anything until the next
                // '[', so what follows need not be kept.
                replyBuffer_.push_back(static_cast<char>(byte));
            }
        }
        // Anything else stays in the buffer until the next '[' restarts it.
        if (isReply(replyBuffer_)) takeReply(answerable);
    });
}

bool UploadLogic::isReply(std::string_view text) {
    for (std::string_view reply : {replyNext, replyOldMonitor, replyInvalidMonitor,
                                   replyInvalidMonitor2, replyRestart, replyResend})
        if (text == reply) return true;
    return false;
}

void UploadLogic::takeReply(std::int32_t& answerable) {
    const std::string reply = std::move(replyBuffer_);
    replyBuffer_.clear();

    // The board answers what it received in the order it received it, so this reply belongs to
    // the oldest send still owed an answer: a send of an earlier item (a copy that crossed the
    // answer that moved the run on, or the run a press of the start button cut short), or a copy
    // of the item now being sent. An answer lost on the line only makes later answers look
    // older than they are, which costs a retry, never a record.
    enum class Owner { nobody, earlierItem, currentItem } owner = Owner::nobody;
    if (answerable > 0) {
        --answerable;
        if (staleAnswers_ > 0) {
            --staleAnswers_;
            owner = Owner::earlierItem;
            if (holding_ && staleAnswers_ == 0) {
                holding_ = false;
                envia();
            }
        } else if (copiesOwed_ > 0) {
            --copiesOwed_;
            owner = Owner::currentItem;
        }
    }

    if (reply == replyOldMonitor) {
        if (owner != Owner::nobody) stopForMonitorVersion(messageOldMonitor);
        return;
    }
    if (reply == replyInvalidMonitor || reply == replyInvalidMonitor2) {
        if (owner != Owner::nobody) stopForMonitorVersion(messageInvalidMonitor);
        return;
    }
    // "[N]", "[L]" and "[R]" move the run; only an answer to the item being sent may do that.
    if (owner != Owner::currentItem) return;

    if (reply == replyNext) {
        // Any copy's "[N]" shows the item accepted; the other copies' answers are owed still.
        attempts_ = 1;
        moveOn();
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
        sendWhenSettled();
    } else if (reply == replyRestart) {
        moveOn();
        recordIndex_ = 1;
        sendWhenSettled();
    } else if (reply == replyResend) {
        ++errorCount_;
        window_.setLabel8(std::to_string(errorCount_));
        if (errorCount_ == maxRefusals) {
            // The record keeps being refused: stop quietly, the port stays open for a new run.
            // Answers to copies still on their way must not take the run on again.
            moveOn();
            window_.setTimer1Enabled(false);
            window_.setBitBtn6Enabled(true);
        } else {
            envia();
        }
    }
}

void UploadLogic::forgetOwed() {
    staleAnswers_ = copiesOwed_ = 0;
    holding_ = false;
}

void UploadLogic::moveOn() {
    staleAnswers_ += copiesOwed_;
    copiesOwed_ = 0;
    holding_ = false;
}

void UploadLogic::sendWhenSettled() {
    if (staleAnswers_ == 0) {
        envia();
        return;
    }
    // A prompt board answers the other copies at once; the timer, restarted here, ends the wait
    // should those answers have been lost on the line.
    holding_ = true;
    window_.setTimer1Enabled(false);
    window_.setTimer1Enabled(true);
}

void UploadLogic::sendCommand() {
    port_.writeText(std::string(programmingModeCommand));
    ++copiesOwed_;
}

void UploadLogic::stopForMonitorVersion(std::string_view message) {
    moveOn();
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
    // A ':' with no record after it (record 0) is nothing the board can answer.
    if (!line.empty()) ++copiesOwed_;
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
