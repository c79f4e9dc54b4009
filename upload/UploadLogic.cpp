#include "upload/UploadLogic.h"

#include "framework/Convert.h"
#include "upload/UploadTexts.h"

#include <algorithm>
#include <stdexcept>

namespace upload {

namespace {

constexpr std::int32_t maxSends = 5;    // sends of one item before the board counts as silent
constexpr std::int32_t maxRefusals = 4; // "[R]" replies for one record that stop the run

// The least silence taken to show that the board has nothing more to say, and how many times the
// slowest answer heard it must be at least.
constexpr auto quietFloor = std::chrono::seconds(2);
constexpr int quietPerSlowest = 3;
// A hold that sees no such silence in this many quiet times (a board working through every copy
// it was sent could take five) ends the run: the line keeps talking and nothing can be placed.
constexpr int holdLimit = maxSends + 2;

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
        // Opening only: a failure here leaves the window as it was. Should a run be going on
        // (the port lost under it), what the board still owes is unknown: the item goes out
        // again only once the answers it may owe must have come and the line has been quiet.
        if (hold_ == Hold::quiet || hold_ == Hold::copies || !owed_.empty()) {
            // Answers that came while the port was closed are lost, an "[L]" among them perhaps:
            // only a run from the command is sure of what the board holds.
            recordIndex_ = 0;
            errorCount_ = 0;
            abandonOwed();
            hold_ = Hold::quiet;
            holdSince_ = window_.now();
        }
        const std::string chosen = window_.comboBox1Text();
        port_.setPort(chosen.empty() ? std::string(defaultPortName) : chosen);
        openAndShowPort();
        return;
    }
    // A new run from the command, whatever the run in progress was doing. Answers still on
    // their way to the run cut short, or left from an earlier session, must not count for the
    // new one: the command waits for a quiet line.
    releasingOnFailure([this] {
        window_.setBitBtn6Enabled(false);
        tell(RunStarted{totalRecords_});
        errorCount_ = 0;
        recordIndex_ = 0;
        completionShown_ = false;
        holdCommand();
        attempts_ = 1;
        window_.setTimer1Enabled(true);
        openAndShowPort();
    });
}

void UploadLogic::openAndShowPort() {
    const bool opening = !port_.Connected();
    port_.openPort(); // does nothing when already open
    if (opening) {
        const Clock::time_point now = window_.now();
        lastHeard_ = std::max(lastHeard_, now); // heard from its opening on
        // Whatever was sent on this port while nobody listened may still be answered: by this
        // logic before the port closed, or by an earlier run that the port kept word of.
        const auto left = std::max<std::chrono::nanoseconds>(port_.owedBefore(), {});
        heldUntil_ = std::max(owedUntil(), now + std::chrono::duration_cast<Clock::duration>(left));
    }
    port_.setDtrLine(true);
    port_.setRtsLine(false);
    window_.setBitBtn2Caption(std::string(captionStart));
    window_.setLabel2(std::to_string(totalRecords_));
    window_.setLabel4("0");
}

void UploadLogic::Timer1Timer() {
    releasingOnFailure([this] {
        const Clock::time_point now = window_.now();
        if (hold_ == Hold::quiet) {
            // Nothing has gone out for the held item yet: no retry, only the wait for quiet.
            if (now >= heldUntil_ && quietFor() >= quietTime())
                release();
            else if (now - std::max(holdSince_, heldUntil_) > holdLimit * quietTime())
                stopUncertain();
            return;
        }
        if (hold_ == Hold::copies) {
            // A copy has been answered: no retry; the other copies' answers, or a quiet line.
            if (quietFor() >= quietTime())
                settle();
            else if (now - holdSince_ > holdLimit * quietTime())
                stopUncertain();
            return;
        }
        if (hold_ == Hold::ended) return;
        if (attempts_ == maxSends) {
            window_.setTimer1Enabled(false);
            tell(RunEnded{RunOutcome::noAnswer, recordIndex_});
            window_.showMessage(std::string(messageNoAnswer));
            // Replies may have been acted on while the box was open; the run ends all the same.
            window_.setTimer1Enabled(false);
            window_.setBitBtn6Enabled(true);
            if (port_.Connected()) port_.closePort();
            abandonOwed(); // closing drops whatever was on its way
            end();
            window_.setLampColor(lampWhite);
            return;
        }
        // Answers still owed stay owed: a copy of this item may yet be answered, and only a
        // quiet line writes answers off.
        if (recordIndex_ == 0) {
            sendCommand();
            ++attempts_;
            window_.setLabel4(std::to_string(attempts_));
            tell(ItemResent{recordIndex_, attempts_});
        } else {
            ++attempts_;
            window_.setLabel4(std::to_string(attempts_));
            tell(ItemResent{recordIndex_, attempts_});
            envia();
        }
    });
}

void UploadLogic::ComPort1RxChar(std::int32_t count) {
    releasingOnFailure([this, count] {
        // These bytes were in the port before this handler sent anything: they can only answer
        // sends made before it ran.
        std::int32_t answerable = static_cast<std::int32_t>(owed_.size());
        for (std::int32_t i = 0; i < count; ++i) {
            std::uint8_t byte = 0;
            if (port_.readBytes(&byte, 1) < 1) break; // fewer bytes waiting than announced
            lastHeard_ = std::max(lastHeard_, window_.now());
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
    // Before the command goes out everything heard is an earlier session's.
    if (hold_ == Hold::quiet) return;

    // The board answers what it received in the order it received it, so this reply belongs to
    // the oldest copy still owed an answer, unless answers were lost on the line: it may answer
    // any of the copies sent before these bytes were read. Every one of them is a copy of the
    // item due, so it is acted on whichever it answers.
    if (answerable == 0 || owed_.empty()) return; // answers nothing that was sent
    const Clock::time_point now = window_.now();
    if (tooSoon(owed_.front())) {
        // Something the logic never sent was answered: every answer since may have been taken
        // for the wrong item. Before any record was accepted the run can begin again, a few
        // times: a line that always answers at once is no board at the rate it was set to.
        owed_.pop_front();
        --answerable;
        if (hold_ == Hold::ended) return;
        if (recordIndex_ == 0 && attempts_ < maxSends) {
            ++attempts_;
            holdCommand();
            return;
        }
        stopUncertain();
        return;
    }
    // Timed from the latest copy it may answer: a lost answer must not make the board look slow.
    Clock::time_point from = owed_.front().sent;
    for (std::int32_t i = answerable - 1; i > 0; --i) {
        const Owed& copy = owed_[static_cast<std::size_t>(i)];
        if (!tooSoon(copy)) {
            from = copy.sent;
            break;
        }
    }
    slowest_ = std::max(slowest_, now - from);
    owed_.pop_front();
    --answerable;
    if (hold_ == Hold::ended) {
        keepOwed();
        return;
    }

    if (reply == replyOldMonitor) {
        tell(RunEnded{RunOutcome::oldMonitor, recordIndex_});
        stopForMonitorVersion(messageOldMonitor);
        return;
    }
    if (reply == replyInvalidMonitor || reply == replyInvalidMonitor2) {
        tell(RunEnded{RunOutcome::invalidMonitor, recordIndex_});
        stopForMonitorVersion(messageInvalidMonitor);
        return;
    }
    ++tally_.answered;
    if (reply == replyRestart) {
        tally_.restart = true;
    } else if (reply == replyNext) {
        tally_.last = 'N';
    } else if (reply == replyResend) {
        tally_.last = 'R';
        ++errorCount_;
        window_.setLabel8(std::to_string(errorCount_));
        tell(ItemRefused{recordIndex_});
        if (errorCount_ == maxRefusals) {
            // The record keeps being refused: stop quietly, the port stays open for a new run.
            end();
            tell(RunEnded{RunOutcome::recordRejected, recordIndex_});
            window_.setTimer1Enabled(false);
            window_.setBitBtn6Enabled(true);
            return;
        }
    }
    if (owed_.empty()) {
        settle();
        return;
    }
    // Other copies are still owed: their answers may undo this one. No more copies go out; the
    // wait for their answers counts from this one.
    hold_ = Hold::copies;
    holdSince_ = now;
    window_.setTimer1Enabled(false);
    window_.setTimer1Enabled(true);
    keepOwed();
}

void UploadLogic::settle() {
    const Tally tally = tally_;
    tally_ = {};
    hold_ = Hold::none;
    owed_.clear(); // what the quiet line showed: whatever was owed will not be answered now
    if (tally.restart) {
        // The board asked to start over: whatever it held may be gone.
        recordIndex_ = 1;
        envia();
    } else if (tally.last == 'N') {
        accept();
    } else if (tally.last == 'R') {
        envia();
    }
    keepOwed();
}

void UploadLogic::accept() {
    attempts_ = 1;
    if (recordIndex_ == totalRecords_) {
        window_.setBitBtn6Enabled(true);
        window_.setBitBtn2Enabled(false);
        window_.setTimer1Enabled(false);
        end();
        // Once per run, however many "[N]" the board sends after the last record.
        if (!completionShown_) {
            completionShown_ = true;
            tell(RunEnded{RunOutcome::completed, recordIndex_});
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
}

void UploadLogic::end() {
    hold_ = Hold::ended;
    tally_ = {};
}

bool UploadLogic::tooSoon(const Owed& send) const {
    // The item's last byte and the three of the reply are left out: leeway for clocks and for a
    // rate a little off.
    return window_.now() - send.sent < lineTime(send.bytes - 1);
}

WindowSurface::Clock::duration UploadLogic::quietTime() const {
    return std::max<Clock::duration>(quietFloor, quietPerSlowest * slowest_);
}

WindowSurface::Clock::duration UploadLogic::earlierAnswersWait() const {
    return std::max<Clock::duration>(heldUntil_ - window_.now(), {});
}

UploadLogic::Clock::duration UploadLogic::quietFor() const {
    return window_.now() - lastHeard_;
}

void UploadLogic::abandonOwed() {
    abandonedUntil_ = std::max(abandonedUntil_, owedUntil());
    owed_.clear();
    tally_ = {};
    keepOwed();
}

UploadLogic::Clock::time_point UploadLogic::owedUntil() const {
    // The board is silent no longer than the quiet time while it owes answers, so each answer
    // owed comes within one quiet time of the one before, the first of the last thing heard.
    const auto owed = static_cast<Clock::rep>(owed_.size());
    return std::max({heldUntil_, abandonedUntil_, lastHeard_ + owed * quietTime()});
}

void UploadLogic::keepOwed() {
    const Clock::duration left = owedUntil() - window_.now();
    port_.keepOwed(std::max<std::chrono::nanoseconds>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(left), {}));
}

void UploadLogic::holdCommand() {
    // While the port stays open the quiet line shows the answers given; a port opened since
    // brought what it kept along.
    abandonOwed();
    replyBuffer_.clear();
    // Whatever waits was sent before this run began.
    for (std::int32_t waiting = port_.Connected() ? port_.bytesWaiting() : 0; waiting > 0;
         --waiting) {
        std::uint8_t byte = 0;
        if (port_.readBytes(&byte, 1) < 1) break;
        lastHeard_ = std::max(lastHeard_, window_.now());
    }
    hold_ = Hold::quiet;
    holdSince_ = window_.now();
    if (port_.Connected() && window_.now() >= heldUntil_ && quietFor() >= quietTime()) release();
}

void UploadLogic::release() {
    const Hold held = hold_;
    hold_ = Hold::none;
    // What the quiet line showed: whatever was owed before will not be answered now.
    owed_.clear();
    if (held == Hold::none) return;
    if (recordIndex_ == 0)
        sendCommand();
    else
        envia();
}

void UploadLogic::owe(std::int32_t bytes) {
    owed_.push_back(Owed{window_.now(), bytes});
}

void UploadLogic::sendCommand() {
    tell(ItemSent{0});
    owe(static_cast<std::int32_t>(programmingModeCommand.size()));
    port_.writeText(std::string(programmingModeCommand));
    sent(static_cast<std::int32_t>(programmingModeCommand.size()));
}

void UploadLogic::sent(std::int32_t bytes) {
    // The write returns before the bytes have crossed the line, and the answer crosses it too:
    // the silence that counts begins after both.
    lastHeard_ = std::max(lastHeard_,
                          window_.now() + lineTime(bytes + static_cast<std::int32_t>(replyLength)));
    keepOwed();
}

UploadLogic::Clock::duration UploadLogic::lineTime(std::int32_t bytes) const {
    const std::uint32_t rate = port_.lineRate();
    if (rate == 0) return {};
    // Ten bits a byte.
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::microseconds(std::int64_t{bytes} * 10'000'000 / rate));
}

void UploadLogic::stopUncertain() {
    end();
    window_.setTimer1Enabled(false);
    tell(RunEnded{RunOutcome::unconfirmed, recordIndex_});
    window_.showMessage(std::string(messageUncertain));
    window_.setBitBtn6Enabled(true);
    window_.setTimer1Enabled(false);
}

void UploadLogic::stopForMonitorVersion(std::string_view message) {
    end();
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
    tell(ItemSent{recordIndex_});
    const std::string_view line = recordLine(recordIndex_);
    // A ':' with no record after it (record 0) is nothing the board can answer.
    if (!line.empty()) owe(static_cast<std::int32_t>(1 + (line.size() - 1) / 2));
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
    sent(static_cast<std::int32_t>(1 + (line.empty() ? 0 : (line.size() - 1) / 2)));
    window_.setTimer1Enabled(true);
}

void UploadLogic::ComPort1AfterOpen() {
    window_.setLampColor(lampLime);
}

} // namespace upload
