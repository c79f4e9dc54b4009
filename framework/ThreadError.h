#pragma once

#include "framework/Exception.h"

#include <string>

namespace fw {

// A failure of the threading layer: a thread that cannot be created or given its priority, or a
// call made on the wrong thread.
class EThread : public Exception {
public:
    using Exception::Exception;
};

// Raises EThread "Thread Error: <system message> (<code>)" for a platform error code.
[[noreturn]] void raiseThreadError(int code);

} // namespace fw
