#include "tools/hexgen/IntelHex.h"

#include <stdexcept>
#include <vector>

namespace hexgen {

namespace {

std::string record(std::uint8_t type, std::uint16_t offset, std::span<const std::uint8_t> data) {
    if (data.size() > 255)
        throw std::invalid_argument("an Intel HEX record holds at most 255 bytes");
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()),
                                    static_cast<std::uint8_t>(offset >> 8),
                                    static_cast<std::uint8_t>(offset & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (auto b : bytes)
        sum += b;
    bytes.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));

    static constexpr char digits[] = "0123456789ABCDEF";
    std::string line = ":";
    for (auto b : bytes) {
        line += digits[b >> 4];
        line += digits[b & 0x0F];
    }
    return line;
}

} // namespace

std::string dataRecord(std::uint16_t offset, std::span<const std::uint8_t> data) {
    return record(0x00, offset, data);
}

std::string extendedLinearAddressRecord(std::uint16_t upper) {
    const std::uint8_t data[] = {static_cast<std::uint8_t>(upper >> 8),
                                 static_cast<std::uint8_t>(upper & 0xFF)};
    return record(0x04, 0, data);
}

} // namespace hexgen
