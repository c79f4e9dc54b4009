// The embedded firmware image has the shape the board and the upload run rely on.

#include "upload/FirmwareImage.h"
#include "upload/MonitorArea.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>

using namespace upload;

namespace {

struct Record {
    unsigned count, offset, type;
    std::vector<unsigned> bytes; // every byte of the record, count to checksum
};

Record parse(std::string_view line) {
    Record r{};
    for (std::size_t i = 1; i + 1 < line.size(); i += 2)
        r.bytes.push_back(
            static_cast<unsigned>(std::stoul(std::string(line.substr(i, 2)), nullptr, 16)));
    r.count = r.bytes.at(0);
    r.offset = r.bytes.at(1) << 8 | r.bytes.at(2);
    r.type = r.bytes.at(3);
    return r;
}

} // namespace

TEST(FirmwareImage, HasTheRecordsOfTheUploadAndAnEmptyLastLine) {
    const auto image = firmwareImage();
    ASSERT_EQ(image.size(), 1975u);
    EXPECT_EQ(image.back(), "");

    const std::regex recordLine("^:([0-9A-F]{2})+$");
    std::map<unsigned, int> dataSizes;
    std::size_t shortest = 999, longest = 0;
    for (std::size_t i = 0; i < 1974; ++i) {
        const auto line = image[i];
        ASSERT_TRUE(std::regex_match(line.begin(), line.end(), recordLine)) << "line " << i;
        const Record r = parse(line);
        ASSERT_EQ(r.bytes.size(), r.count + 5u) << "line " << i;
        unsigned sum = 0;
        for (auto b : r.bytes)
            sum += b;
        EXPECT_EQ(sum & 0xFF, 0u) << "checksum of line " << i;
        EXPECT_EQ(r.type, i == 0 ? 0x04u : 0x00u) << "line " << i;
        if (i > 0) ++dataSizes[r.count];
        shortest = std::min(shortest, line.size());
        longest = std::max(longest, line.size());
    }
    EXPECT_EQ(dataSizes, (std::map<unsigned, int>{
                             {16, 1963}, {14, 1}, {12, 1}, {10, 2}, {8, 2}, {6, 3}, {2, 1}}));
    EXPECT_EQ(shortest, 15u);
    EXPECT_EQ(longest, 43u);
    EXPECT_EQ(parse(image[0]).count, 2u);
}

TEST(FirmwareImage, FillsApplicationMemoryInRisingOrderWithEightGaps) {
    const auto image = firmwareImage();
    const Record upper = parse(image[0]);
    const unsigned base = (upper.bytes[4] << 8 | upper.bytes[5]) << 16;
    EXPECT_EQ(base, 0u);

    int gaps = 0;
    unsigned previousEnd = 0;
    for (std::size_t i = 1; i < 1974; ++i) {
        const Record r = parse(image[i]);
        const unsigned start = base + r.offset, end = start + r.count;
        EXPECT_FALSE(inMonitorArea(start) || inMonitorArea(end - 1)) << "line " << i;
        EXPECT_LE(end, programMemoryEnd) << "line " << i;
        if (i > 1) {
            ASSERT_GE(start, previousEnd) << "line " << i << " overlaps or goes back";
            gaps += start != previousEnd;
        }
        previousEnd = end;
    }
    EXPECT_EQ(gaps, 8);
}
