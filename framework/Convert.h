#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace fw {

// Reads a whole text as a signed 32-bit integer: optional leading blanks, an optional sign, then
// decimal digits, or "$", "x", "X", "0x", "0X" and hexadecimal digits. Nothing may follow the
// digits. Decimal values must fit 32 signed bits; hexadecimal values may use all 32 bits
// ("$FFFFFFFF" is -1). Returns nothing for any other text.
std::optional<std::int32_t> tryStrToInt(std::string_view text);

// Whether two texts are equal when the letters a to z are taken as A to Z. Other bytes (other
// scripts, blanks) must match exactly.
bool sameText(std::string_view a, std::string_view b);

// As tryStrToInt, but a bad text raises EConvertError "'<text>' is not a valid integer value".
std::int32_t strToInt(std::string_view text);

} // namespace fw
