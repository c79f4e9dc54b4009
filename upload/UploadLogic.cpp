#include "upload/UploadLogic.h"

#include "framework/Convert.h"
#include "upload/UploadTexts.h"

#include <algorithm>
#include <limits>
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

// Answers owed, added without overflow: a kept state may say as many as could be.
std::int32_t addAnswers(std::int32_t a, std::int32_t b) {
    return a > std::numeric_limits<std::int32_t>::max() - b
               ? std::numeric_limits<std::int32_t>::max()
               : a + b;
}

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
        // logic before the port closed, or by an earlier run that the port kept word of. Answers
        // that came meanwhile are lost, so none of them can be counted as paid.
        const OwedAnswers kept = port_.owedBefore();
        if (kept.owesAny()) {
            earlier_.answers = addAnswers(earlier_.answers, kept.answers);
            earlier_.until =
                std::max(earlier_.until,
                         now + std::chrono::duration_cast<Clock::duration>(
                                   std::min<std::chrono::nanoseconds>(kept.left, longestOwedWait)));
            earlier_.quiet =
                std::max(earlier_.quiet, std::chrono::duration_cast<Clock::duration>(kept.quiet));
        }
        if (abandoned_.answers > 0 || !owed_.empty()) {
            abandonOwed();
            earlier_.answers = addAnswers(earlier_.answers, abandoned_.answers);
            earlier_.until = std::max(earlier_.until, abandoned_.until);
            earlier_.quiet = std::max(earlier_.quiet, quietTime());
            abandoned_ = {};
        }
        // No run waits longer than the longest wait, whoever left the debt.
        earlier_.until = std::min(earlier_.until, now + longestOwedWait);
    }
    port_.setDtrLine(true);
    port_.setRtsLine(false);
    window_.setBitBtn2Caption(std::string(captionStart));
    window_.setLabel2(std::to_string(totalRecords_));
    window_.setLabel4("0");
}

void UploadLogic::Timer1Timer() {
    releasingOnFailure([this] {
        if (hold_ == Hold::ended) return;
        // What reached the port is read first: a tick that came before the port's event (a
        // busy window thread, a process stopped for a while) must not decide over an answer.
        if (port_.Connected() && readWaiting(port_.bytesWaiting())) return;
        const Clock::time_point now = window_.now();
        if (hold_ == Hold::quiet) {
            // Nothing has gone out for the held item yet: no retry, only the wait for quiet.
            if (earlierPaid() && quietFor() >= quietTime())
                release();
            else if (now - std::max(holdSince_, earlier_.until) > holdLimit * quietTime())
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
    releasingOnFailure([this, count] { readWaiting(count); });
}

bool UploadLogic::readWaiting(std::int32_t waiting) {
    bool answered = false;
    while (waiting > 0) {
        for (; waiting > 0; --waiting) {
            std::uint8_t byte = 0;
            if (port_.readBytes(&byte, 1) < 1) return answered; // fewer waiting than announced
            const Clock::time_point at = arrivalOfRead();
            lastHeard_ = std::max(lastHeard_, at);
            if (byte == '[') {
                replyBuffer_.assign(1, '['); // a reply starts here
            } else if (replyBuffer_.size() <= replyLength) {
                // Past a reply's length the buffer can no longer match anything until the next
                // '[', so what follows need not be kept.
                replyBuffer_.push_back(static_cast<char>(byte));
            }
            // A reply counts as it completes, whatever bytes come after it.
            if (isReply(replyBuffer_) && takeReply(at)) answered = true;
        }
        // Bytes that came while these were read are read too, before anything is decided. Once
        // an answer has been acted on (and the next item sent), what comes is for the next event:
        // a board that answers at once must not keep one handler going for the whole run.
        waiting = !answered && port_.Connected() ? port_.bytesWaiting() : 0;
    }
    return answered;
}

UploadLogic::Clock::time_point UploadLogic::arrivalOfRead() const {
    const Clock::time_point now = window_.now();
    const auto reached = port_.lastReadArrival();
    return reached ? std::min(*reached, now) : now;
}

bool UploadLogic::isReply(std::string_view text) {
    for (std::string_view reply : {replyNext, replyOldMonitor, replyInvalidMonitor,
                                   replyInvalidMonitor2, replyRestart, replyResend})
        if (text == reply) return true;
    return false;
}

bool UploadLogic::takeReply(Clock::time_point at) {
    const std::string reply = std::move(replyBuffer_);
    replyBuffer_.clear();
    // Before the command goes out everything heard is an earlier session's.
    if (hold_ == Hold::quiet) {
        payEarlier();
        return false;
    }

    // The board answers what it received in the order it received it, so this reply belongs to
    // the oldest copy still owed an answer, unless answers were lost on the line: it may answer
    // any of the copies sent soon enough before it reached the port. Every one of them is a copy
    // of the item due, so it is acted on whichever it answers.
    if (owed_.empty()) return false; // answers nothing that was sent
    if (tooSoon(owed_.front(), at)) {
        // Something the logic never sent was answered: every answer since may have been taken
        // for the wrong item. Before any record was accepted the run can begin again, a few
        // times: a line that always answers at once is no board at the rate it was set to.
        owed_.pop_front();
        if (hold_ == Hold::ended) {
            keepOwed();
            return true;
        }
        if (recordIndex_ == 0 && attempts_ < maxSends) {
            ++attempts_;
            holdCommand();
            return true;
        }
        stopUncertain();
        return true;
    }
    // Timed from the latest copy it may answer: a lost answer must not make the board look slow.
    Clock::time_point from = owed_.front().sent;
    for (std::size_t i = owed_.size() - 1; i > 0; --i)
        if (!tooSoon(owed_[i], at)) {
            from = owed_[i].sent;
            break;
        }
    slowest_ = std::max(slowest_, at - from);
    owed_.pop_front();
    // The quiet time may have grown: the port learns it before anything else happens.
    const bool withinWait = keepOwed();
    if (hold_ == Hold::ended) return true;
    if (!withinWait) {
        stopUncertain();
        return true;
    }

    if (reply == replyOldMonitor) {
        tell(RunEnded{RunOutcome::oldMonitor, recordIndex_});
        stopForMonitorVersion(messageOldMonitor);
        return true;
    }
    if (reply == replyInvalidMonitor || reply == replyInvalidMonitor2) {
        tell(RunEnded{RunOutcome::invalidMonitor, recordIndex_});
        stopForMonitorVersion(messageInvalidMonitor);
        return true;
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
            return true;
        }
    }
    if (owed_.empty()) {
        settle();
        return true;
    }
    // Other copies are still owed: their answers may undo this one. No more copies go out; the
    // wait for their answers counts from this one.
    hold_ = Hold::copies;
    holdSince_ = window_.now();
    window_.setTimer1Enabled(false);
    window_.setTimer1Enabled(true);
    return true;
}

void UploadLogic::payEarlier() {
    if (earlier_.answers > 0)
        --earlier_.answers;
    else if (abandoned_.answers > 0)
        --abandoned_.answers;
    else
        return;
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

bool UploadLogic::tooSoon(const Owed& send, Clock::time_point at) const {
    // The whole of the send and of the reply must have crossed: the port's time of arrival is
    // never earlier than the bytes came, so nothing here makes an answer look later than it was.
    return at - send.sent < lineTime(send.bytes + static_cast<std::int32_t>(replyLength));
}

WindowSurface::Clock::duration UploadLogic::quietTime() const {
    return std::max<Clock::duration>(quietFloor, quietPerSlowest * slowest_);
}

WindowSurface::Clock::duration UploadLogic::earlierAnswersWait() const {
    if (earlier_.answers <= 0) return {};
    return std::max<Clock::duration>(earlier_.until - window_.now(), {});
}

UploadLogic::Clock::duration UploadLogic::quietFor() const {
    return window_.now() - lastHeard_;
}

bool UploadLogic::earlierPaid() const {
    return earlier_.answers <= 0 || window_.now() >= earlier_.until;
}

void UploadLogic::abandonOwed() {
    const OwedAnswers owed = owedAnswers();
    abandoned_.answers = addAnswers(abandoned_.answers, static_cast<std::int32_t>(owed_.size()));
    abandoned_.until = std::max(
        abandoned_.until, window_.now() + std::chrono::duration_cast<Clock::duration>(owed.left));
    abandoned_.quiet = std::max(abandoned_.quiet, quietTime());
    owed_.clear();
    tally_ = {};
    keepOwed();
}

OwedAnswers UploadLogic::owedAnswers() const {
    // The board is silent no longer than the quiet time while it owes answers, so each answer
    // owed comes within one quiet time of the one before, the first of the last thing heard.
    const auto copies = static_cast<Clock::rep>(owed_.size());
    Clock::time_point until = lastHeard_ + copies * quietTime();
    Clock::duration quiet = quietTime();
    std::int32_t answers = static_cast<std::int32_t>(owed_.size());
    for (const Debt* debt : {&earlier_, &abandoned_})
        if (debt->answers > 0) {
            answers = addAnswers(answers, debt->answers);
            until = std::max(until, debt->until);
            quiet = std::max(quiet, debt->quiet);
        }
    if (answers == 0) return {0, quiet, {}};
    return {answers, quiet, std::max<Clock::duration>(until - window_.now(), {})};
}

bool UploadLogic::keepOwed() {
    const OwedAnswers owed = owedAnswers();
    port_.keepOwed(owed);
    keptUntil_ = window_.now() + std::chrono::duration_cast<Clock::duration>(owed.left);
    return owed.left <= longestOwedWait;
}

void UploadLogic::holdCommand() {
    // While the port stays open the quiet line shows the answers given; a port opened since
    // brought what it kept along.
    abandonOwed();
    replyBuffer_.clear();
    hold_ = Hold::quiet;
    holdSince_ = window_.now();
    // Whatever waits was sent before this run began: it pays what earlier sends are owed.
    if (port_.Connected()) readWaiting(port_.bytesWaiting());
    if (port_.Connected() && earlierPaid() && quietFor() >= quietTime()) release();
}

void UploadLogic::release() {
    const Hold held = hold_;
    hold_ = Hold::none;
    // What the quiet line showed: whatever was owed before will not be answered now.
    owed_.clear();
    earlier_ = {};
    abandoned_ = {};
    if (held == Hold::none) return;
    if (recordIndex_ == 0)
        sendCommand();
    else
        envia();
}

bool UploadLogic::owe(std::int32_t bytes) {
    const Clock::time_point now = window_.now();
    const Clock::time_point heard = lastHeard_;
    owed_.push_back(Owed{now, bytes});
    lastHeard_ =
        std::max(lastHeard_, now + lineTime(bytes + static_cast<std::int32_t>(replyLength)));
    const OwedAnswers owed = owedAnswers();
    if (owed.left > longestOwedWait) {
        // Its answer might come later than any run after this one can be made to wait for.
        owed_.pop_back();
        lastHeard_ = heard;
        stopUncertain();
        return false;
    }
    // Told before the bytes go out: a process killed while they do leaves it behind.
    port_.keepOwed(owed);
    keptUntil_ = now + std::chrono::duration_cast<Clock::duration>(owed.left);
    return true;
}

void UploadLogic::sendCommand() {
    const auto bytes = static_cast<std::int32_t>(programmingModeCommand.size());
    if (!owe(bytes)) return;
    tell(ItemSent{0});
    port_.writeText(std::string(programmingModeCommand));
    sent(bytes);
}

void UploadLogic::sent(std::int32_t bytes) {
    // The write returns before the bytes have crossed the line, and the answer crosses it too:
    // the silence that counts begins after both.
    const Clock::time_point now = window_.now();
    lastHeard_ =
        std::max(lastHeard_, now + lineTime(bytes + static_cast<std::int32_t>(replyLength)));
    const OwedAnswers owed = owedAnswers();
    if (now + std::chrono::duration_cast<Clock::duration>(owed.left) > keptUntil_) keepOwed();
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
    const std::string_view line = recordLine(recordIndex_);
    const auto bytes = static_cast<std::int32_t>(1 + (line.empty() ? 0 : (line.size() - 1) / 2));
    // A ':' with no record after it (record 0) is nothing the board can answer.
    if (!line.empty() && !owe(bytes)) return;
    tell(ItemSent{recordIndex_});
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
    sent(bytes);
    window_.setTimer1Enabled(true);
}

void UploadLogic::ComPort1AfterOpen() {
    window_.setLampColor(lampLime);
}

} // namespace upload
