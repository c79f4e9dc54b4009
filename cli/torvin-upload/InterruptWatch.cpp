#include "cli/torvin-upload/InterruptWatch.h"

#include "framework/MainThread.h"

namespace torvinupload {

void InterruptWatch::record(int number) {
    int none = 0;
    // The first request counts; a second Ctrl-C while the run ends changes nothing.
    if (signal_.compare_exchange_strong(none, number)) fw::synchronize([] {});
}

} // namespace torvinupload
