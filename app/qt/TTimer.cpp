#include "app/qt/TTimer.h"

namespace app::qt {

TTimer::TTimer(QObject* owner, int intervalMs) : QObject(owner) {
    timer_.setInterval(intervalMs);
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &TTimer::tick);
}

void TTimer::setEnabled(bool enabled) {
    if (!enabled) {
        timer_.stop();
    } else if (!timer_.isActive()) {
        timer_.start();
    }
}

void TTimer::tick() {
    if (OnTimer) OnTimer();
}

} // namespace app::qt
