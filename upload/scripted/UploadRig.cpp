#include "upload/scripted/UploadRig.h"

#include <stdexcept>

namespace upload::scripted {

UploadRig::UploadRig(ImageLines image, std::int32_t totalRecords)
    : board(log, image), window(log), logic(board, window, image, totalRecords) {
    board.onAfterOpen = [this] { logic.ComPort1AfterOpen(); };
}

bool UploadRig::tick() {
    if (!window.timer1Enabled) return false;
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

int UploadRig::run(int maxTicks) {
    int ticks = 0;
    for (;;) {
        deliver();
        if (!window.timer1Enabled) return ticks;
        if (ticks == maxTicks)
            throw std::runtime_error("the run did not end within the ticks allowed");
        tick();
        ++ticks;
    }
}

int UploadRig::openStartAndRun(int maxTicks) {
    press();
    press();
    return run(maxTicks);
}

} // namespace upload::scripted
