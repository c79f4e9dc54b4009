// How one record goes on the wire, and what a failure while sending leaves behind.

#include "framework/Exception.h"
#include "tests/support/UploadRunHelpers.h"
#include "tests/support/scripted/UploadRig.h"
#include "upload/UploadTexts.h"

#include <gtest/gtest.h>

using namespace upload;
using namespace upload::scripted;
using namespace testsupport;
using Strings = std::vector<std::string>;

namespace {

// A rig that has opened the port and sent the command, with a board that stays silent.
struct StartedRig : UploadRig {
    explicit StartedRig(ImageLines image = firmwareImage(),
                        std::int32_t total = firmwareRecordCount)
        : UploadRig(image, total) {
        board.responder = [](const Item&) { return Reply{}; };
        openAndStart();
    }
    // Lets one "[N]" arrive; returns the calls it caused.
    Strings acknowledge() {
        const auto m = log.mark();
        board.send({"[N]"});
        deliver();
        return log.since(m);
    }
};

} // namespace

TEST(Envia, FirstRecordIsTheColonAndTheSevenBytesOfTheAddressRecord) {
    StartedRig rig;
    const auto wireBefore = rig.board.wire().size();
    EXPECT_EQ(rig.acknowledge(),
              (Strings{"Label7 1", "ProgressBar1 0", "Timer1 off", "writeText :", "writeBytes 02",
                       "writeBytes 00", "writeBytes 00", "writeBytes 04", "writeBytes 00",
                       "writeBytes 00", "writeBytes FA", "Timer1 on"}));
    const std::vector<std::uint8_t> sent(rig.board.wire().begin() + static_cast<long>(wireBefore),
                                         rig.board.wire().end());
    EXPECT_EQ(sent, recordOnWire(firmwareImage()[0]));
}

TEST(Envia, SixteenByteRecordIsTwentyTwoWritesAndRestartsARunningTimer) {
    StartedRig rig;
    for (int n = 1; n <= 4; ++n)
        rig.acknowledge();
    const int startsBefore = rig.window.timer1Starts;
    const auto calls = rig.acknowledge(); // record 5: 16 data bytes
    ASSERT_EQ(firmwareImage()[4].size(), 43u);
    const auto writes = entriesOf(calls, "write");
    EXPECT_EQ(writes.size(), 22u);
    EXPECT_EQ(writes.front(), "Text :");
    EXPECT_EQ(calls.front(), "Label7 5");
    EXPECT_EQ(calls[2], "Timer1 off");
    EXPECT_EQ(calls.back(), "Timer1 on");
    EXPECT_EQ(rig.window.timer1Starts, startsBefore + 1);
}

TEST(Envia, SendsLinesOfAnyLengthWholeAndDropsAnOddLastDigit) {
    std::string longLine = ":";
    for (int i = 0; i < 300; ++i)
        longLine += "A5";
    const std::string_view lines[] = {longLine, ":0102F", ""};
    StartedRig rig(lines, 2);

    rig.acknowledge();
    ASSERT_EQ(rig.board.wire().size(), 6u + 1 + 300);
    EXPECT_EQ(rig.board.wire().back(), 0xA5);

    rig.acknowledge();
    const std::vector<std::uint8_t> tail(rig.board.wire().end() - 3, rig.board.wire().end());
    EXPECT_EQ(tail, (std::vector<std::uint8_t>{':', 0x01, 0x02}));
    EXPECT_TRUE(rig.window.timer1Enabled);
}

TEST(Envia, RecordOutsideTheImageGoesOutAsTheColonAlone) {
    const std::string_view lines[] = {":00000001FF"};
    StartedRig rig(lines, 3); // more records announced than the image holds
    rig.acknowledge();
    const auto calls = rig.acknowledge();
    EXPECT_EQ(entriesOf(calls, "write"), Strings{"Text :"});
    EXPECT_TRUE(rig.window.timer1Enabled);
}

TEST(Envia, PairThatIsNotHexadecimalStopsTheRecordAndReleasesTheWindow) {
    const std::string_view lines[] = {":0200000412ZZ34", ""};
    StartedRig rig(lines, 1);
    const auto m = rig.log.mark();
    rig.board.send({"[N]"});
    try {
        rig.deliver();
        FAIL() << "the conversion error must leave the handler";
    } catch (const fw::EConvertError& e) {
        EXPECT_STREQ(e.what(), "'$ZZ' is not a valid integer value");
    }
    const auto calls = rig.log.since(m);
    EXPECT_EQ(entriesOf(calls, "writeBytes "), (Strings{"02", "00", "00", "04", "12"}));
    EXPECT_EQ(Strings(calls.end() - 2, calls.end()), (Strings{"Timer1 off", "BitBtn6 on"}));
    EXPECT_FALSE(rig.window.timer1Enabled);
    EXPECT_TRUE(rig.window.bitBtn6Enabled);
}

TEST(PortFailure, WriteErrorInAnyHandlerStopsTheTimerAndFreesTheCloseButton) {
    // From the reply handler, in the middle of a record.
    {
        UploadRig rig;
        rig.openAndStart();
        rig.board.writeBudget = 90; // records 1 to 5 take 72 bytes, record 6 needs 22
        EXPECT_THROW(rig.run(), fw::Exception);
        const Strings& all = rig.log.entries();
        EXPECT_EQ(Strings(all.end() - 2, all.end()), (Strings{"Timer1 off", "BitBtn6 on"}));
        EXPECT_EQ(rig.board.wire().size(), 6u + 90);
        EXPECT_FALSE(rig.window.timer1Enabled);
        EXPECT_TRUE(rig.window.bitBtn6Enabled);
    }
    // From the timer, re-sending a record.
    {
        StartedRig rig;
        rig.acknowledge();
        rig.board.writeBudget = 3;
        EXPECT_THROW(rig.tick(), fw::Exception);
        EXPECT_FALSE(rig.window.timer1Enabled);
        EXPECT_TRUE(rig.window.bitBtn6Enabled);
    }
    // From the start button, sending the command.
    {
        UploadRig rig;
        rig.press();
        rig.pause(rig.logic.quietTime());
        rig.board.writeBudget = 0;
        EXPECT_THROW(rig.press(), fw::Exception);
        EXPECT_EQ(rig.log.entries().back(), "BitBtn6 on");
        EXPECT_FALSE(rig.window.timer1Enabled);
        EXPECT_TRUE(rig.window.bitBtn6Enabled);
    }
}

TEST(PortFailure, ReadErrorStopsTheTimerAndFreesTheCloseButton) {
    StartedRig rig;
    rig.board.readFailure = "Read error on the serial port (Error: 5)";
    rig.board.send({"[N]"});
    EXPECT_THROW(rig.deliver(), fw::Exception);
    EXPECT_FALSE(rig.window.timer1Enabled);
    EXPECT_TRUE(rig.window.bitBtn6Enabled);
}

TEST(PortFailure, FewerBytesThanAnnouncedAreNotInvented) {
    StartedRig rig;
    rig.board.send({"[N"});
    rig.board.arrive();
    rig.logic.ComPort1RxChar(5); // announces more than is waiting
    EXPECT_EQ(rig.logic.replyBuffer(), "[N");
    rig.board.send({"]"});
    rig.deliver();
    EXPECT_EQ(recordsReceived(rig.board), oneTo(1));
}
