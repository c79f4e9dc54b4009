#include "cli/torvin-upload/MainThreadPump.h"

#include "framework/MainThread.h"

namespace torvinupload {

void MainThreadPump::serve(Clock::time_point until) {
    const auto now = Clock::now();
    // Rounded up: waking a little early would only mean sleeping again for the remainder.
    const auto wait = until > now ? std::chrono::ceil<std::chrono::milliseconds>(until - now)
                                  : std::chrono::milliseconds(0);
    fw::waitForSynchronize(wait);
}

} // namespace torvinupload
