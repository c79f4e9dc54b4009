#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace upload {

// The lines of a firmware image, each exactly as stored (no line end).
using ImageLines = std::span<const std::string_view>;

// The firmware image compiled into the program from upload/firmware.hex: 1975 lines, record n
// (1 to 1974) being line n-1 and the last line empty.
ImageLines firmwareImage();

// The number of records an upload run sends.
inline constexpr std::int32_t firmwareRecordCount = 1974;

} // namespace upload
