#pragma once

#include "upload/FirmwareImage.h"
#include "upload/PortOperations.h"
#include "upload/RunEvents.h"
#include "upload/WindowSurface.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

namespace upload {

// The upload protocol that drives the board's Monitor through an upload run. It lives on the
// window thread: the window calls the handlers below from its start button, its retry timer and
// the port's received-characters event, and the logic answers through the port operations and the
// window surface only.
//
// A run: send the programming-mode command; on each "[N]" send the next record; after the last
// record is acknowledged, report completion. Silence is met by re-sending (five sends of one item
// at most), "[R]" by sending the record again (four refusals stop the run), "[L]" by starting
// again at record 1, "[I]", "[J]" and "[K]" by stopping with a message about the Monitor.
//
// Every send is owed one answer, and the board answers in the order it received. The replies
// carry no record number, so the logic relies on one bound: while the board still has answers to
// give, it is never silent longer than the quiet time, two seconds or three times the slowest
// answer heard so far, whichever is longer (an answer is timed from the latest send it may
// answer, so that an answer lost on the line does not make the time longer). Within it:
// - answers are timed by when their bytes reached the port (the port tells), not by when a handler
//   got to them, and nothing is decided (a retry, a quiet line, a send) while bytes wait unread:
//   they are read and acted on first;
// - every copy of an item (the first send and each re-send) is acted on, whichever it answers:
//   the item counts as accepted only when its copies' answers end in "[N]" and none of them was
//   "[L]"; "[L]" on any copy starts again at record 1, a later copy's "[R]" sends the record
//   again, a version reply stops the run;
// - the run moves on (to the next record, record 1 again, or the completion) only once every copy
//   has been answered or the line has been quiet for the quiet time, so every answer the board
//   gives between an item's first send and the next item's belongs to a copy of that item;
// - what the board may still owe (answers, quiet time, until when) is kept through the port
//   operations before every write that adds to it and whenever it changes, so that it outlives a
//   process killed at any point; a run starts by listening until what earlier runs are owed has
//   been paid (each answer heard pays one) or must have come, and the line has been quiet for the
//   quiet time.
// An answer that comes sooner than its item could have crossed the line (where the line's rate is
// known), a line that never falls quiet, or a debt that would outgrow what the next run can be made
// to wait (longestOwedWait) means the answers can no longer be placed: the run then stops with
// "TRANSMISSÃO NÃO CONFIRMADA ! REPITA A TRANSMISSÃO", never with the completion.
class UploadLogic {
public:
    UploadLogic(PortOperations& port, WindowSurface& window, ImageLines image = firmwareImage(),
                std::int32_t totalRecords = firmwareRecordCount);

    UploadLogic(const UploadLogic&) = delete;
    UploadLogic& operator=(const UploadLogic&) = delete;

    // Set when the window is created; at least 1.
    void setTotalRecords(std::int32_t total);
    // Who is told what the run does (none: nobody); it must outlive the logic or be unset.
    void setListener(RunListener* listener) { listener_ = listener; }

    // The start button: the first press opens the port, later presses start an upload run.
    void BitBtn2Click();
    // One tick of the retry timer.
    void Timer1Timer();
    // The port's received-characters event; `count` bytes are waiting.
    void ComPort1RxChar(std::int32_t count);
    // The port has opened: the status lamp turns lime.
    void ComPort1AfterOpen();
    // Sends record `recordIndex` as ':' and the raw bytes of its line, restarting the timer.
    void envia();

    std::int32_t recordIndex() const { return recordIndex_; }
    std::int32_t totalRecords() const { return totalRecords_; }
    std::int32_t attempts() const { return attempts_; }
    std::int32_t errorCount() const { return errorCount_; }
    const std::string& replyBuffer() const { return replyBuffer_; }

    // Silence that shows the board has nothing more to say: two seconds, or three times the
    // slowest answer heard so far when that is longer.
    WindowSurface::Clock::duration quietTime() const;
    // How long from now answers to sends made before the port's latest opening may still come:
    // a run's command waits that long at least.
    WindowSurface::Clock::duration earlierAnswersWait() const;

private:
    using Clock = WindowSurface::Clock;

    // One send of the item due (a copy) still owed an answer.
    struct Owed {
        Clock::time_point sent; // when its first byte was handed to the port
        std::int32_t bytes;     // its length on the wire
    };
    // What the answers to the item's copies have said so far.
    struct Tally {
        std::int32_t answered = 0;
        bool restart = false; // an "[L]" among them
        char last = 0;        // 'N' or 'R': the latest of those
    };
    // Answers owed to sends that no longer belong to the item due.
    struct Debt {
        std::int32_t answers = 0;
        Clock::time_point until{}; // when the last of them must have come
        Clock::duration quiet{};   // the quiet time of the run that sent them
    };
    // What holds the run: a quiet line before the item due goes out (the command of a new run,
    // or the item that was going out when the port was opened again); the answers still owed to
    // the copies of an item some copy of which has been answered; or nothing, the run being over.
    enum class Hold { none, quiet, copies, ended };

    void openAndShowPort();
    static bool isReply(std::string_view text);
    // Reads `waiting` bytes and then whatever else waits, acting on every reply among them; true
    // when one of them was taken as an answer of this run.
    bool readWaiting(std::int32_t waiting);
    // When the byte just read reached the port.
    Clock::time_point arrivalOfRead() const;
    // Acts on the complete reply in the buffer, whose last byte reached the port at `at`; true
    // when it was taken as an answer of this run.
    bool takeReply(Clock::time_point at);
    // An answer heard before the command went out pays what earlier sends are owed.
    void payEarlier();
    // True when a reply that reached the port at `at` cannot be the answer to `send`: too soon
    // for the send and the reply to have crossed the line.
    bool tooSoon(const Owed& send, Clock::time_point at) const;
    // Every copy of the item due is answered or written off: acts on what their answers said.
    void settle();
    void accept();
    // The run stops: answers still on their way change nothing.
    void end();
    // Sends still owed are given up on (a new run, a closed port): the next run on the port waits
    // until their answers must have come.
    void abandonOwed();
    // The line has been quiet since the latest send, answer or opening for this long.
    Clock::duration quietFor() const;
    // Nothing earlier holds the command back: every answer owed has come, or must have by now.
    bool earlierPaid() const;
    // A run's start: drops what waits in the port and holds the command until the line is quiet.
    void holdCommand();
    void release();
    void sendCommand();
    // A copy of `bytes` is about to go out: owed, and told to the port before it goes. False
    // (the run stopped as unconfirmed, nothing sent) when the debt would outgrow the longest wait.
    bool owe(std::int32_t bytes);
    // `bytes` have been written: the line is busy until they and their answer have crossed it.
    void sent(std::int32_t bytes);
    // What the board may still owe, from now.
    OwedAnswers owedAnswers() const;
    // Tells the port what is owed; false when that is more than the next run can be made to wait.
    bool keepOwed();
    // How long `bytes` take on the line; nothing when its rate is not known.
    Clock::duration lineTime(std::int32_t bytes) const;
    void stopForMonitorVersion(std::string_view message);
    void stopUncertain();
    std::string_view recordLine(std::int32_t record) const;
    void tell(const RunEvent& event) {
        if (listener_) listener_->told(event);
    }

    // Runs a handler's steps; should a failure leave them, the run cannot go on, so the timer is
    // stopped and the close button enabled before the failure travels on to be shown.
    template <typename Steps> void releasingOnFailure(Steps&& steps);

    PortOperations& port_;
    WindowSurface& window_;
    ImageLines image_;
    RunListener* listener_ = nullptr;

    std::int32_t recordIndex_ = 0;
    std::int32_t totalRecords_ = 0;
    std::int32_t attempts_ = 0;
    std::int32_t errorCount_ = 0;
    bool completionShown_ = false;
    std::string replyBuffer_;
    // Copies of the item due still owed an answer, oldest first, and what the others said.
    std::deque<Owed> owed_;
    Tally tally_;
    Hold hold_ = Hold::none;
    Clock::time_point holdSince_{};
    // Owed to sends before the port's latest opening (what the port kept, and this logic's own
    // while the port was closed): answers then are lost, so only their number or time pays them.
    Debt earlier_;
    // Owed to sends given up on while the port stayed open: listening pays those, but a process
    // that ends must leave them behind.
    Debt abandoned_;
    // The latest byte read reached the port then, the port opened, or the latest send and its
    // answer will have crossed the line by then.
    Clock::time_point lastHeard_{};
    Clock::time_point keptUntil_{}; // what the port was last told, as a time
    Clock::duration slowest_{};     // the slowest answer heard since the window was created
};

} // namespace upload
