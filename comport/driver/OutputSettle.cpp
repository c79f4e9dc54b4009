#include "comport/driver/OutputSettle.h"

namespace comport::driver {

bool settleOutput(const OutputProbe& probe) {
    int left = probe.queued();
    while (left > 0) {
        probe.pause();
        const int now = probe.queued();
        if (now >= left) {
            probe.discard();
            return true;
        }
        left = now;
    }
    return false;
}

} // namespace comport::driver
