#pragma once

// Intel HEX records as text, for the programs that write images (hexgen, monitor-sim's --save)
// and the one that checks them (torvin-upload --image): one place for the layout and checksum.

#include <cstdint>
#include <numeric>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace upload::intelhex {

inline constexpr std::uint8_t recordTypeData = 0x00;
inline constexpr std::uint8_t recordTypeEndOfFile = 0x01;
inline constexpr std::uint8_t recordTypeUpperAddress = 0x04; // extended linear address

// The checksum that makes all bytes of a record (byte count, address, type, data, checksum) sum
// to zero modulo 256.
inline std::uint8_t recordChecksum(std::span<const std::uint8_t> bytesBeforeChecksum) {
    const unsigned sum =
        std::accumulate(bytesBeforeChecksum.begin(), bytesBeforeChecksum.end(), 0u);
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

// One record line: ':' and upper-case digits, checksum included, no line end.
inline std::string recordLine(std::uint8_t type, std::uint16_t address,
                              std::span<const std::uint8_t> data) {
    if (data.size() > 255)
        throw std::invalid_argument("an Intel HEX record holds at most 255 bytes");
    std::vector<std::uint8_t> raw{static_cast<std::uint8_t>(data.size()),
                                  static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address & 0xFF), type};
    raw.insert(raw.end(), data.begin(), data.end());
    raw.push_back(recordChecksum(raw));

    static constexpr char digits[] = "0123456789ABCDEF";
    std::string line(1, ':');
    line.reserve(1 + 2 * raw.size());
    for (std::uint8_t b : raw) {
        line += digits[b >> 4];
        line += digits[b & 0x0F];
    }
    return line;
}

inline std::string dataRecord(std::uint16_t offset, std::span<const std::uint8_t> data) {
    return recordLine(recordTypeData, offset, data);
}

// Sets the upper 16 bits of the addresses of the data records that follow.
inline std::string upperAddressRecord(std::uint16_t upper) {
    const std::uint8_t data[] = {static_cast<std::uint8_t>(upper >> 8),
                                 static_cast<std::uint8_t>(upper & 0xFF)};
    return recordLine(recordTypeUpperAddress, 0, data);
}

inline std::string endOfFileRecord() {
    return recordLine(recordTypeEndOfFile, 0, {});
}

} // namespace upload::intelhex
