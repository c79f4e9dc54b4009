#pragma once

#include "tools/monitor-sim/HexRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace monitorsim {

// The programming-mode command the host sends before the records.
inline constexpr std::string_view programmingCommand = "(%P31)";

// Cuts the byte stream from the host into commands and records. Bytes outside a record that do
// not complete the command are ignored (line noise, stray bytes). A ':' starts a record only while
// receiving (after a command), as the real Monitor listens for records only in programming mode;
// from then on the record's own byte-count field says how many bytes follow, and every one of them
// belongs to the record, whatever its value.
class RecordStream {
public:
    enum class Kind { none, command, record };
    struct Event {
        Kind kind = Kind::none;
        // The record's bytes after the ':'; valid until the next call of feed or reset.
        std::span<const std::uint8_t> record;
    };

    // Consumes input up to and including the byte that completes the next command or record and
    // returns how many bytes it took; event tells what was completed (Kind::none when the input
    // ran out first). Call again with the rest of the input.
    std::size_t feed(std::span<const std::uint8_t> input, Event& event);

    void setReceiving(bool receiving) { receiving_ = receiving; }
    bool receiving() const { return receiving_; }

    // True while a record has started and not yet completed.
    bool midRecord() const { return inRecord_; }
    std::size_t partialLength() const { return have_; }

    // Drops a partial record or command (after silence, or when the host goes away).
    void reset();

private:
    std::size_t feedRecord(std::span<const std::uint8_t> input, Event& event);

    bool receiving_ = false;
    bool inRecord_ = false;
    std::size_t commandMatched_ = 0;
    std::size_t have_ = 0;
    std::array<std::uint8_t, maxRecordLength> record_{};
};

} // namespace monitorsim
