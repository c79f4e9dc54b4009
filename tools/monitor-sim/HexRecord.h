#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace monitorsim {

// Intel HEX record types the Monitor knows.
enum class RecordType : std::uint8_t {
    data = 0x00,
    endOfFile = 0x01,
    extendedSegmentAddress = 0x02,
    startSegmentAddress = 0x03,
    extendedLinearAddress = 0x04,
    startLinearAddress = 0x05,
};

// On the wire a record is ':' followed by its raw bytes: byte count, address (high, low), type,
// the data bytes and the checksum. These are the bytes after the ':'.
inline constexpr std::size_t recordOverhead = 5;
inline constexpr std::size_t maxRecordLength = 255 + recordOverhead;

constexpr std::size_t recordLength(std::uint8_t byteCount) {
    return byteCount + recordOverhead;
}

// A record's fields, viewed in place over its raw bytes (which must be exactly
// recordLength(bytes[0]) long).
struct RecordView {
    std::uint8_t byteCount;
    std::uint16_t address;
    std::uint8_t type;
    std::span<const std::uint8_t> data;
    bool checksumRight;

    static RecordView of(std::span<const std::uint8_t> raw);
};

} // namespace monitorsim
