#include "framework/ThreadError.h"

#include "framework/ThreadPriority.h"

namespace fw {

void raiseThreadError(int code) {
    throw EThread("Thread Error: " + detail::systemErrorText(code) + " (" + std::to_string(code) +
                  ")");
}

} // namespace fw
