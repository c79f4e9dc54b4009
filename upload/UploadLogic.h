#pragma once

#include "upload/FirmwareImage.h"
#include "upload/PortOperations.h"
#include "upload/WindowSurface.h"

#include <cstdint>
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
// Every send is owed one answer, and the board answers in the order it received. A reply moves
// the run only when it answers a send of the item being sent now; replies to earlier items (a
// copy re-sent after silence whose answer crossed the one that moved the run on, or the run a
// press of the start button cut short) and replies to nothing are absorbed. When an item is
// accepted while other copies of it still owe answers, the next record waits for those answers
// (a second at most), so no answer can be mistaken for the next record's. So the run never moves
// past a record the board has not accepted, and completes only on the answer to the last.
class UploadLogic {
public:
    UploadLogic(PortOperations& port, WindowSurface& window, ImageLines image = firmwareImage(),
                std::int32_t totalRecords = firmwareRecordCount);

    UploadLogic(const UploadLogic&) = delete;
    UploadLogic& operator=(const UploadLogic&) = delete;

    // Set when the window is created; at least 1.
    void setTotalRecords(std::int32_t total);

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
    bool completionShown() const { return completionShown_; }
    const std::string& replyBuffer() const { return replyBuffer_; }

private:
    void openAndShowPort();
    static bool isReply(std::string_view text);
    // Acts on one complete reply, or absorbs it when it answers an earlier item; `answerable`
    // is how many of the sends still owed may have been answered by the bytes being read.
    void takeReply(std::int32_t& answerable);
    // The item being sent changes: answers owed to its copies now belong to an earlier item.
    void moveOn();
    void forgetOwed();
    // Sends the item now due, or holds it while answers to earlier copies are still owed.
    void sendWhenSettled();
    void sendCommand();
    void stopForMonitorVersion(std::string_view message);
    std::string_view recordLine(std::int32_t record) const;

    // Runs a handler's steps; should a failure leave them, the run cannot go on, so the timer is
    // stopped and the close button enabled before the failure travels on to be shown.
    template <typename Steps> void releasingOnFailure(Steps&& steps);

    PortOperations& port_;
    WindowSurface& window_;
    ImageLines image_;

    std::int32_t recordIndex_ = 0;
    std::int32_t totalRecords_ = 0;
    std::int32_t attempts_ = 0;
    std::int32_t errorCount_ = 0;
    bool completionShown_ = false;
    std::string replyBuffer_;
    // Sends still owed an answer, oldest first: those of earlier items, then the copies of the
    // item being sent now (the first send and every re-send).
    std::int32_t staleAnswers_ = 0;
    std::int32_t copiesOwed_ = 0;
    // The next item is held back until the answers owed to earlier copies have come (or a
    // second has passed without them), so that none of those can be taken for the next item's.
    bool holding_ = false;
};

} // namespace upload
