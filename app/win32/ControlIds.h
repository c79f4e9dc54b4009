#pragma once

// The control identifiers of the Win32 windows: each control of the form descriptions carries
// 100 plus its ControlId, so that automation tools (and the Windows tests) find it by name.

#include "app/FormLayout.h"

namespace app::win32 {

inline int controlIdOf(ControlId id) {
    return 100 + static_cast<int>(id);
}

} // namespace app::win32
