#pragma once

#include "upload/Outcome.h"

#include <cstdio>

namespace torvinupload {

using upload::ExitStatus;

// --list-ports: the window's port list, one port a line, on `out`; a COM name with the device it
// opens ("COM1: /dev/ttyS0"). When the system's device
// manager cannot be read the COM names are still printed, the reason goes to `errors`, and the
// status says that the list is incomplete.
ExitStatus listPorts(std::FILE* out, std::FILE* errors);

} // namespace torvinupload
