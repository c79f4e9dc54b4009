#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hexgen {

// One run of contiguous program memory and how it is cut into records.
struct Segment {
    std::uint32_t start = 0;
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> recordSizes; // sums to bytes.size()
};

// The firmware's program memory, segment by segment, in rising address order. Deterministic:
// the same call always gives the same bytes.
std::vector<Segment> firmwareSegments();

// The image's record lines: the extended linear address record, then the data records of every
// segment. Throws std::logic_error when the layout leaves program memory, touches the Monitor's
// area or is not in rising order with a gap between segments.
std::vector<std::string> firmwareRecords();

} // namespace hexgen
