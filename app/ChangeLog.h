#pragma once

#include <array>
#include <cstddef>

namespace app {

// The firmware's version history as the change-log window shows it, one entry per line, oldest
// first, continuation lines indented under their entry's description.
inline constexpr std::size_t changeLogLineCount = 100;
extern const std::array<const char*, changeLogLineCount> changeLogLines;

} // namespace app
