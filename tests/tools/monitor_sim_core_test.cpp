// The simulated Monitor's pieces without a terminal: cutting the byte stream, the flash model,
// the saved HEX text, record numbering with faults, and the command line.
#include "tests/support/MonitorSimProcess.h"
#include "tools/monitor-sim/FlashMemory.h"
#include "tools/monitor-sim/HexFile.h"
#include "tools/monitor-sim/Monitor.h"
#include "tools/monitor-sim/Options.h"
#include "tools/monitor-sim/RecordStream.h"

#include <gtest/gtest.h>

using namespace monitorsim;
using testsupport::wireRecord;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes rawOf(const Bytes& wire) {
    return Bytes(wire.begin() + 1, wire.end());
} // without ':'

// Feeds input in pieces of `piece` bytes and lists what was completed: "C" for a command, or the
// record's raw bytes as "R<length>".
std::vector<std::string> cut(RecordStream& stream, const Bytes& input, std::size_t piece) {
    std::vector<std::string> seen;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        std::span<const std::uint8_t> rest(input.data() + at, std::min(piece, input.size() - at));
        while (!rest.empty()) {
            RecordStream::Event event;
            rest = rest.subspan(stream.feed(rest, event));
            if (event.kind == RecordStream::Kind::command) seen.push_back("C");
            if (event.kind == RecordStream::Kind::record) {
                seen.push_back("R" + std::to_string(event.record.size()));
                if (event.record.size() > 4 && event.record[4] == 0x3A) seen.back() += ":";
            }
        }
    }
    return seen;
}

} // namespace

TEST(RecordStream, FindsCommandsAmongNoiseAndRecordsOnlyAfterOne) {
    RecordStream stream;
    // Before any command a ':' is noise: the Monitor is not listening for records yet.
    EXPECT_EQ(cut(stream, bytesOf(":\x01(%P3(%P31)x((%P31)"), 1),
              (std::vector<std::string>{"C", "C"}));

    stream.setReceiving(true);
    Bytes input = bytesOf("junk");
    for (const Bytes& r :
         {wireRecord(0, 4, {0, 0}), wireRecord(0x200, 0, {0x3A, '(', '%', 'P', '3', '1', ')'}),
          wireRecord(0x210, 0, {})})
        input.insert(input.end(), r.begin(), r.end());
    for (const char c : std::string_view("\r\n(%P31)"))
        input.push_back(static_cast<std::uint8_t>(c));
    // A command inside a record's data is data; the length comes from the byte count alone.
    const std::vector<std::string> expected{"R7", "R12:", "R5", "C"};
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, input.size()}) {
        RecordStream fresh;
        fresh.setReceiving(true);
        EXPECT_EQ(cut(fresh, input, piece), expected) << "pieces of " << piece;
    }
}

TEST(RecordStream, ResetDropsAPartialRecord) {
    RecordStream stream;
    stream.setReceiving(true);
    const Bytes record = wireRecord(0x300, 0, {1, 2, 3});
    EXPECT_TRUE(cut(stream, Bytes(record.begin(), record.begin() + 4), 4).empty());
    EXPECT_TRUE(stream.midRecord());
    EXPECT_EQ(stream.partialLength(), 3u);
    stream.reset();
    EXPECT_FALSE(stream.midRecord());
    EXPECT_EQ(cut(stream, record, record.size()), (std::vector<std::string>{"R8"}));
}

TEST(RecordView, ReadsFieldsAndChecksThesum) {
    Bytes raw = rawOf(wireRecord(0x1234, 0, {0xAA, 0xBB}));
    RecordView view = RecordView::of(raw);
    EXPECT_EQ(view.byteCount, 2);
    EXPECT_EQ(view.address, 0x1234);
    EXPECT_EQ(view.type, 0);
    EXPECT_EQ(view.data[1], 0xBB);
    EXPECT_TRUE(view.checksumRight);
    raw[5] ^= 0x01;
    EXPECT_FALSE(RecordView::of(raw).checksumRight);
}

TEST(FlashMemory, ProgramsByClearingBitsAndRefusesWhatFlashCannotDo) {
    FlashMemory flash = FlashMemory::board();
    using R = FlashMemory::WriteResult;
    EXPECT_EQ(flash.at(0x7FFF), 0xFF);
    EXPECT_FALSE(flash.isWritten(0x0200));

    const Bytes first{0xF0, 0x0F, 0x55};
    EXPECT_EQ(flash.program(0x23E, first), R::written); // crosses the row boundary at 0x240
    EXPECT_EQ(flash.at(0x23E), 0xF0);
    EXPECT_EQ(flash.at(0x240), 0x55);
    EXPECT_EQ(flash.rowErases(), 2u);

    // Same run: clearing more bits is fine, setting one is not, and nothing of the record lands.
    EXPECT_EQ(flash.program(0x23F, Bytes{0x07}), R::written);
    EXPECT_EQ(flash.at(0x23F), 0x07);
    EXPECT_EQ(flash.program(0x23E, Bytes{0x00, 0x0F}), R::needsErase);
    EXPECT_EQ(flash.at(0x23E), 0xF0);

    EXPECT_EQ(flash.program(0x1FF, Bytes{0, 0}), R::monitorArea);
    EXPECT_EQ(flash.program(0x7FFF, Bytes{0, 0}), R::outsideMemory);
    EXPECT_EQ(flash.program(0x1'0000, Bytes{0}), R::outsideMemory);
    EXPECT_FALSE(flash.isWritten(0x200));

    // A new run erases a row at its first write there: the row's other bytes go, other rows stay.
    flash.beginRun();
    EXPECT_EQ(flash.program(0x23F, Bytes{0xFE}), R::written);
    EXPECT_EQ(flash.at(0x23F), 0xFE);
    EXPECT_FALSE(flash.isWritten(0x23E));
    EXPECT_EQ(flash.at(0x23E), 0xFF);
    EXPECT_TRUE(flash.isWritten(0x240));
    EXPECT_EQ(flash.at(0x240), 0x55);
}

TEST(HexFile, WritesOnlyProgrammedBytesInAlignedRecords) {
    FlashMemory flash = FlashMemory::board();
    Bytes twenty(20);
    for (std::size_t i = 0; i < twenty.size(); ++i)
        twenty[i] = static_cast<std::uint8_t>(i);
    flash.program(0x208, twenty);
    flash.program(0x7FFE, Bytes{0xAB, 0xCD});
    using testsupport::hexLine;
    const std::string expected = hexLine(0, 4, {0, 0}) + "\n" +
                                 hexLine(0x208, 0, {0, 1, 2, 3, 4, 5, 6, 7}) + "\n" +
                                 hexLine(0x210, 0, {8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}) +
                                 "\n" + hexLine(0x7FFE, 0, {0xAB, 0xCD}) + "\n:00000001FF\n";
    EXPECT_EQ(toIntelHex(flash), expected);
    EXPECT_EQ(toIntelHex(FlashMemory::board()), ":00000001FF\n");
}

TEST(Monitor, NumbersRecordsAsTheHostDoesAndPlaysFaultsOnThem) {
    FlashMemory flash = FlashMemory::board();
    Faults faults;
    faults.silent[1] = 1;
    faults.reject[3] = 1;
    faults.restart.insert(4);
    Monitor monitor(faults, flash);
    auto send = [&](std::uint16_t address) {
        const auto outcome = monitor.onRecord(rawOf(wireRecord(address, 0, {0x11})));
        return std::to_string(outcome.item) + (outcome.action == Monitor::Action::stayQuiet
                                                   ? std::string("-")
                                                   : std::string(1, outcome.letter));
    };
    EXPECT_EQ(monitor.onCommand().letter, 'N');
    EXPECT_EQ(send(0x200), "1-"); // silent once
    EXPECT_EQ(send(0x200), "1N");
    EXPECT_EQ(send(0x200), "1N"); // a late second send of record 1 is still record 1
    EXPECT_EQ(send(0x201), "2N");
    EXPECT_EQ(send(0x202), "3R");
    EXPECT_EQ(send(0x202), "3N");
    EXPECT_EQ(send(0x203), "4L");
    EXPECT_EQ(send(0x200), "1N"); // back to record 1, the fault played once
    EXPECT_EQ(send(0x201), "2N");
    EXPECT_EQ(send(0x202), "3N");
    EXPECT_EQ(send(0x203), "4N");
    EXPECT_EQ(monitor.statistics().recordsAccepted, 8u);
    EXPECT_EQ(monitor.statistics().recordsRejected, 1u);
    EXPECT_EQ(monitor.statistics().unanswered, 1u);
}

TEST(Monitor, AppliesAddressRecordsPerRunAndRefusesBadRecordsWithAReason) {
    FlashMemory flash = FlashMemory::board();
    Faults faults;
    faults.commandReply = 'J';
    Monitor monitor(faults, flash);
    EXPECT_EQ(monitor.onCommand().letter, 'J');
    EXPECT_TRUE(monitor.receiving());

    EXPECT_EQ(monitor.onRecord(rawOf(wireRecord(0, 4, {0x00, 0x01}))).letter, 'N');
    const auto high = monitor.onRecord(rawOf(wireRecord(0x0200, 0, {0x42})));
    EXPECT_EQ(high.letter, 'R');
    EXPECT_NE(high.problem.find("0x10200"), std::string::npos) << high.problem;

    Bytes corrupt = rawOf(wireRecord(0x0200, 0, {0x42}));
    corrupt.back() ^= 0xFF;
    EXPECT_EQ(monitor.onRecord(corrupt).problem, "checksum wrong");
    EXPECT_EQ(monitor.onRecord(rawOf(wireRecord(0, 4, {1}))).letter, 'R');
    EXPECT_EQ(monitor.onRecord(rawOf(wireRecord(0, 7, {}))).letter, 'R');

    // A new command starts from upper address 0 again.
    monitor.onCommand();
    EXPECT_EQ(monitor.onRecord(rawOf(wireRecord(0x0200, 0, {0x42}))).letter, 'N');
    EXPECT_EQ(flash.at(0x200), 0x42);

    monitor.onHostGone();
    EXPECT_FALSE(monitor.receiving());
}

TEST(Monitor, VanishesAtTheChosenItemWithoutWriting) {
    FlashMemory flash = FlashMemory::board();
    Faults faults;
    faults.vanish = 2;
    Monitor monitor(faults, flash);
    monitor.onCommand();
    EXPECT_EQ(monitor.onRecord(rawOf(wireRecord(0x200, 0, {0}))).action, Monitor::Action::answer);
    EXPECT_EQ(monitor.onRecord(rawOf(wireRecord(0x201, 0, {0}))).action, Monitor::Action::vanish);
    EXPECT_FALSE(flash.isWritten(0x201));
}

TEST(Options, ReadsEveryOptionAndRefusesBadUsage) {
    const ParsedOptions ok = parseOptions({"--link",
                                           "/tmp/x",
                                           "--save=out.hex",
                                           "--silent",
                                           "0:5",
                                           "--silent",
                                           "3:1",
                                           "--reject",
                                           "7:2",
                                           "--stall",
                                           "5:2500",
                                           "--restart",
                                           "9",
                                           "--restart",
                                           "12",
                                           "--version-reply",
                                           "I",
                                           "--noise",
                                           "--split",
                                           "--trailing",
                                           "--vanish",
                                           "20",
                                           "--baud",
                                           "115200",
                                           "--delay-ms",
                                           "3",
                                           "--resync-ms",
                                           "200",
                                           "--once",
                                           "--verbose"});
    ASSERT_EQ(ok.error, "");
    const Options& o = ok.options;
    EXPECT_EQ(o.linkPath, "/tmp/x");
    EXPECT_EQ(o.savePath, "out.hex");
    EXPECT_EQ(o.faults.silent, (std::map<std::uint32_t, std::uint32_t>{{0, 5}, {3, 1}}));
    EXPECT_EQ(o.faults.reject.at(7), 2u);
    EXPECT_EQ(o.faults.stall.at(5), 2500u);
    EXPECT_EQ(o.faults.restart, (std::set<std::uint32_t>{9, 12}));
    EXPECT_EQ(o.faults.commandReply, 'I');
    EXPECT_EQ(o.faults.vanish, 20u);
    EXPECT_TRUE(o.noise && o.split && o.trailing && o.once && o.verbose);
    EXPECT_EQ(o.baud, 115200u);
    EXPECT_EQ(o.delay.count(), 3);
    EXPECT_EQ(o.resync.count(), 200);

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--frobnicate"},
                                                {"--silent", "3"},
                                                {"--silent", "3:0"},
                                                {"--reject", "x:1"},
                                                {"--silent", "1:1", "--silent", "1:2"},
                                                {"--vanish", "1", "--vanish", "2"},
                                                {"--version-reply", "n"},
                                                {"--baud", "0"},
                                                {"--baud", "9600x"},
                                                {"--save"},
                                                {"--once=yes"},
                                                {"--delay-ms", "-1"},
                                                {"--resync-ms", "0"},
                                                {"extra"}}) {
        EXPECT_NE(parseOptions(bad).error, "") << bad[0];
    }
}

TEST(Monitor, PlaysFaultsOnTheCommandAsItemZero) {
    FlashMemory flash = FlashMemory::board();
    Faults faults;
    faults.silent[0] = 2;
    faults.restart.insert(0);
    Monitor monitor(faults, flash);
    EXPECT_EQ(monitor.onCommand().action, Monitor::Action::stayQuiet);
    EXPECT_EQ(monitor.onCommand().action, Monitor::Action::stayQuiet);
    EXPECT_EQ(monitor.onCommand().letter, 'L');
    // "[L]" sends the host to record 1.
    EXPECT_EQ(monitor.onRecord(rawOf(wireRecord(0x200, 0, {1}))).item, 1u);
    EXPECT_EQ(monitor.onCommand().letter, 'N');
}
