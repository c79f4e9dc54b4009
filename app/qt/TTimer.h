#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace app::qt {

// A periodic timer switched by one flag: switching a stopped timer on starts its interval afresh,
// switching a running one on changes nothing, switching it off stops it.
class TTimer : public QObject {
    Q_OBJECT
public:
    explicit TTimer(QObject* owner = nullptr, int intervalMs = 1000);

    bool Enabled() const { return timer_.isActive(); }
    void setEnabled(bool enabled);
    int Interval() const { return timer_.interval(); }
    void setInterval(int ms) { timer_.setInterval(ms); }

    // The tick handler; it runs on the thread that owns the timer.
    std::function<void()> OnTimer;

    // Runs one tick now, as the event loop would (tests use it instead of waiting).
    void tick();

private:
    QTimer timer_;
};

} // namespace app::qt
