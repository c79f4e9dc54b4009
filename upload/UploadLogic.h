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
    void actOnReply();
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
};

} // namespace upload
