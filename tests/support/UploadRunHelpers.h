#pragma once

#include "tests/support/scripted/CallLog.h"
#include "tests/support/scripted/ScriptedBoard.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// What a record line must look like on the wire: ':' then one raw byte per digit pair, read
// here independently of the upload logic.
std::vector<std::uint8_t> recordOnWire(std::string_view line);

// The record numbers of the records the board received, in order (0 for one not of the image).
std::vector<int> recordsReceived(const upload::scripted::ScriptedBoard& board);

// How many times the board received the programming-mode command.
int commandsReceived(const upload::scripted::ScriptedBoard& board);

// The entries of the log that start with `prefix`, with the prefix taken off.
std::vector<std::string> entriesOf(const std::vector<std::string>& entries,
                                   std::string_view prefix);

// 1, 2, ..., n.
std::vector<int> oneTo(int n);

} // namespace testsupport
