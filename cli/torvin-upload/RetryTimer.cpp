#include "cli/torvin-upload/RetryTimer.h"

namespace torvinupload {

void RetryTimer::setEnabled(bool enabled, Clock::time_point now) {
    if (!enabled) {
        next_.reset();
    } else if (!next_) {
        next_ = now + interval_;
    }
}

bool RetryTimer::takeTick(Clock::time_point now) {
    if (!next_ || now < *next_) return false;
    *next_ += interval_;
    if (*next_ <= now) *next_ = now + interval_;
    return true;
}

} // namespace torvinupload
