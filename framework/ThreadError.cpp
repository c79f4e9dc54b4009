#include "framework/ThreadError.h"

#include <system_error>

namespace fw {

void raiseThreadError(int code) {
    throw EThread("Thread Error: " + std::generic_category().message(code) + " (" +
                  std::to_string(code) + ")");
}

} // namespace fw
