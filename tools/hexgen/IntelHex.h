#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace hexgen {

// One Intel HEX record line, ':' and upper-case digits, checksum included, no line end.
std::string dataRecord(std::uint16_t offset, std::span<const std::uint8_t> data);
std::string extendedLinearAddressRecord(std::uint16_t upper);

} // namespace hexgen
