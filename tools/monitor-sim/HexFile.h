#pragma once

#include "tools/monitor-sim/FlashMemory.h"

#include <string>

namespace monitorsim {

// What the board holds, as Intel HEX text: only the programmed bytes, in records of at most 16
// data bytes that never cross a 16-byte boundary, an extended linear address record before the
// first data record and wherever the upper 16 address bits change, and the end-of-file record.
std::string toIntelHex(const FlashMemory& memory);

// Writes toIntelHex to path through a temporary file beside it, so that a reader never sees half a
// file. Throws std::runtime_error naming the file and the reason.
void saveIntelHex(const FlashMemory& memory, const std::string& path);

} // namespace monitorsim
