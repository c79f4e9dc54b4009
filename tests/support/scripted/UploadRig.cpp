#include "tests/support/scripted/UploadRig.h"

#include <stdexcept>

namespace upload::scripted {

UploadRig::UploadRig(ImageLines image, std::int32_t totalRecords)
    : board(log, image), window(log), logic(board, window, image, totalRecords) {
    board.onAfterOpen = [this] { logic.ComPort1AfterOpen(); };
    board.clock = [this] { return window.time; };
}

void UploadRig::openAndStart() {
    press();
    pause(logic.quietTime());
    press();
}

bool UploadRig::tick() {
    if (!window.timer1Enabled) return false;
    window.time = std::max(window.time, window.timer1Due);
    window.timer1Due = window.time + std::chrono::seconds(1);
    logic.Timer1Timer();
    return true;
}

int UploadRig::deliver() {
    int events = 0;
    while (board.arrive()) {
        ++events;
        logic.ComPort1RxChar(board.bytesWaiting());
    }
    return events;
}

void UploadRig::runFor(std::chrono::steady_clock::duration d) {
    const auto end = window.time + d;
    for (;;) {
        const auto reply = board.nextArrival();
        const bool ticks = window.timer1Enabled && window.timer1Due <= end;
        if (reply && *reply <= end && (!ticks || *reply <= window.timer1Due)) {
            window.time = std::max(window.time, *reply);
            board.arrive();
            logic.ComPort1RxChar(board.bytesWaiting());
        } else if (ticks) {
            tick();
        } else {
            break;
        }
    }
    window.time = std::max(window.time, end);
}

int UploadRig::run(int maxTicks) {
    int ticks = 0;
    for (;;) {
        const auto reply = board.nextArrival();
        if (reply && (!window.timer1Enabled || *reply <= window.timer1Due)) {
            window.time = std::max(window.time, *reply);
            board.arrive();
            logic.ComPort1RxChar(board.bytesWaiting());
            continue;
        }
        if (!window.timer1Enabled) return ticks;
        if (ticks == maxTicks)
            throw std::runtime_error("the run did not end within the ticks allowed");
        tick();
        ++ticks;
    }
}

int UploadRig::openStartAndRun(int maxTicks) {
    openAndStart();
    return run(maxTicks);
}

} // namespace upload::scripted
