#include "tools/monitor-sim/RecordStream.h"

#include <algorithm>
#include <cstring>

namespace monitorsim {

std::size_t RecordStream::feed(std::span<const std::uint8_t> input, Event& event) {
    event = Event{};
    std::size_t used = 0;
    while (used < input.size()) {
        if (inRecord_) return used + feedRecord(input.subspan(used), event);
        const std::uint8_t byte = input[used++];
        if (receiving_ && byte == ':') {
            inRecord_ = true;
            have_ = 0;
            commandMatched_ = 0;
            continue;
        }
        // '(' occurs only first in the command, so a mismatch restarts the match at this byte.
        if (byte == static_cast<std::uint8_t>(programmingCommand[commandMatched_])) {
            if (++commandMatched_ == programmingCommand.size()) {
                commandMatched_ = 0;
                event.kind = Kind::command;
                return used;
            }
        } else {
            commandMatched_ = byte == static_cast<std::uint8_t>(programmingCommand[0]) ? 1 : 0;
        }
    }
    return used;
}

std::size_t RecordStream::feedRecord(std::span<const std::uint8_t> input, Event& event) {
    // Until the byte count has arrived the record's length is unknown; then it is fixed.
    const std::size_t length = have_ == 0 ? recordLength(input[0]) : recordLength(record_[0]);
    const std::size_t take = std::min(length - have_, input.size());
    std::memcpy(record_.data() + have_, input.data(), take);
    have_ += take;
    if (have_ == length) {
        inRecord_ = false;
        event.kind = Kind::record;
        event.record = std::span<const std::uint8_t>(record_.data(), length);
        have_ = 0;
    }
    return take;
}

void RecordStream::reset() {
    inRecord_ = false;
    have_ = 0;
    commandMatched_ = 0;
}

} // namespace monitorsim
