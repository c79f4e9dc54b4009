#pragma once

#include "upload/UploadLogic.h"
#include "upload/scripted/CallLog.h"
#include "upload/scripted/RecordingWindow.h"
#include "upload/scripted/ScriptedBoard.h"

namespace upload::scripted {

// The upload logic wired to a scripted board and a recording window, with the driver that plays
// the window's event loop: replies arrive as events as soon as the logic is idle, and the retry
// timer ticks only when nothing else happens (the board stays silent for a second).
class UploadRig {
public:
    explicit UploadRig(ImageLines image = firmwareImage(),
                       std::int32_t totalRecords = firmwareRecordCount);

    CallLog log;
    ScriptedBoard board;
    RecordingWindow window;
    UploadLogic logic;

    // The start button.
    void press() { logic.BitBtn2Click(); }
    // One second passes: a running timer ticks. False when the timer is stopped.
    bool tick();
    // Lets every waiting reply arrive, one event per chunk; returns the number of events.
    int deliver();
    // Plays the run on: replies as they come, a tick whenever the board is silent, until the
    // timer is stopped and nothing waits. Returns the ticks; raises std::runtime_error past
    // `maxTicks`. Failures that leave the handlers travel on to the caller.
    int run(int maxTicks = 1000);

    // Opens the port and starts a run (two presses), then plays it to its end.
    int openStartAndRun(int maxTicks = 1000);
};

} // namespace upload::scripted
