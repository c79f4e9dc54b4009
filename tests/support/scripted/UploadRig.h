#pragma once

#include "tests/support/scripted/CallLog.h"
#include "tests/support/scripted/RecordingWindow.h"
#include "tests/support/scripted/ScriptedBoard.h"
#include "upload/UploadLogic.h"

namespace upload::scripted {

// The upload logic wired to a scripted board and a recording window, with the driver that plays
// the window's event loop on a clock of its own: replies arrive as events when they are due (at
// once unless the board is given an answer delay), and the retry timer ticks a second after it
// started or last ticked, when nothing arrives before.
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
    // Opens the port, lets the line be quiet as long as a run asks before its command (as a
    // technician takes a moment between the two presses), and starts a run: the command goes
    // out at once.
    void openAndStart();
    // Time passes with nothing happening on the line or the timer.
    void pause(std::chrono::steady_clock::duration d) { window.time += d; }
    // The clock moves on to the running timer's next tick, which runs. False when the timer is
    // stopped.
    bool tick();
    // Plays events in time order (replies when due, ticks) for `d` of the rig's clock.
    void runFor(std::chrono::steady_clock::duration d);
    // Lets every waiting reply arrive, one event per chunk; returns the number of events.
    int deliver();
    // Plays the run on, in time order: replies as they come due, a tick whenever a second passes
    // without one, until the timer is stopped and no reply waits. Returns the ticks; raises
    // std::runtime_error past `maxTicks`. Failures that leave the handlers travel on to the
    // caller.
    int run(int maxTicks = 1000);

    // openAndStart(), then plays the run to its end.
    int openStartAndRun(int maxTicks = 1000);
};

} // namespace upload::scripted
