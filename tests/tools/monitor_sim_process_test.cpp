// monitor-sim as a process, driven over its pseudo-terminal by a small hand-written host.
#include "tests/support/MonitorSimProcess.h"
#include "upload/FirmwareImage.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <thread>

using testsupport::hexLine;
using testsupport::HostLine;
using testsupport::MonitorSimProcess;
using testsupport::TempDir;
using testsupport::wireRecord;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::string_view command = "(%P31)";

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// True when srec_cmp finds the two Intel HEX files hold the same bytes at the same addresses.
bool sameMemory(const std::string& saved, const std::string& expected) {
    return testsupport::runCommand("srec_cmp '" + saved + "' -intel '" + expected +
                                   "' -intel >/dev/null 2>&1") == 0;
}

struct Sim {
    TempDir dir;
    std::unique_ptr<MonitorSimProcess> process;
    std::unique_ptr<HostLine> host;

    explicit Sim(std::vector<std::string> arguments) {
        process = std::make_unique<MonitorSimProcess>(MONITOR_SIM_PATH, arguments);
        if (process->serialPath().empty())
            throw std::runtime_error("monitor-sim did not start: " + process->errorOutput());
        host = std::make_unique<HostLine>(process->serialPath());
    }
    // Sends and returns the three-byte answer.
    std::string ask(std::string_view bytes) {
        host->send(bytes);
        return host->receive(3);
    }
    std::string ask(const Bytes& bytes) {
        host->send(bytes);
        return host->receive(3);
    }
};

} // namespace

TEST(MonitorSimProcess, AcceptsAnUploadAndSavesExactlyWhatItHolds) {
    TempDir dir;
    const std::string saved = dir.file("board.hex");
    Sim sim({"--save", saved});

    EXPECT_EQ(sim.ask("\x00garbage(%P3" + std::string(command)), "[N]");
    const std::vector<std::pair<std::uint16_t, Bytes>> data = {
        {0x0200, {0x3A, 0x3A, 0x28, 0x5B, 0x4E, 0x5D, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {0x0210, {0xEF, 0xBE, 0xAD, 0xDE}},
        {0x0400, {0x12, 0x34}}, // after a gap
        {0x7FF0, Bytes(16, 0x00)},
    };
    EXPECT_EQ(sim.ask(wireRecord(0, 4, {0, 0})), "[N]");
    std::string expected = hexLine(0, 4, {0, 0}) + "\n";
    for (const auto& [address, bytes] : data) {
        const Bytes record = wireRecord(address, 0, bytes);
        // Stray bytes between records are ignored; a record may come in pieces.
        sim.host->send(std::string_view("\r\n\x7F"));
        sim.host->send(Bytes(record.begin(), record.begin() + 3));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(sim.ask(Bytes(record.begin() + 3, record.end())), "[N]");
        expected += hexLine(address, 0, bytes) + "\n";
    }
    writeFile(dir.file("expected.hex"), expected + ":00000001FF\n");

    EXPECT_EQ(sim.process->stop(), 0);
    EXPECT_TRUE(sameMemory(saved, dir.file("expected.hex")));
    EXPECT_NE(sim.process->errorOutput().find("5 records accepted, 0 rejected, 0 unanswered, 38 "
                                              "data bytes written"),
              std::string::npos)
        << sim.process->errorOutput();
}

TEST(MonitorSimProcess, TakesTheWholeEmbeddedImageOutsideItsOwnArea) {
    TempDir dir;
    const std::string saved = dir.file("board.hex");
    Sim sim({"--save", saved, "--once"});
    ASSERT_EQ(sim.ask(command), "[N]");
    std::string expected;
    int refused = 0;
    for (int n = 1; n <= upload::firmwareRecordCount; ++n) {
        const std::string_view line = upload::firmwareImage()[n - 1];
        Bytes wire{':'};
        for (std::size_t i = 1; i + 1 < line.size(); i += 2)
            wire.push_back(
                static_cast<std::uint8_t>(std::stoi(std::string(line.substr(i, 2)), nullptr, 16)));
        if (sim.ask(wire) != "[N]") ++refused;
        expected += std::string(line) + "\n";
    }
    EXPECT_EQ(refused, 0);
    sim.host->close();
    EXPECT_EQ(sim.process->waitForExit(), 0);
    writeFile(dir.file("expected.hex"), expected + ":00000001FF\n");
    EXPECT_TRUE(sameMemory(saved, dir.file("expected.hex")));
}

TEST(MonitorSimProcess, RefusesBadRecordsAndRecoversFromAnUnfinishedOne) {
    TempDir dir;
    const std::string saved = dir.file("board.hex");
    Sim sim({"--save", saved, "--resync-ms", "100"});
    ASSERT_EQ(sim.ask(command), "[N]");

    Bytes corrupt = wireRecord(0x0300, 0, {1, 2, 3});
    corrupt.back() ^= 0x5A;
    EXPECT_EQ(sim.ask(corrupt), "[R]");
    EXPECT_EQ(sim.ask(wireRecord(0x01F0, 0, {1, 2})), "[R]"); // the Monitor's own area
    EXPECT_EQ(sim.ask(wireRecord(0x8000, 0, {1})), "[R]");    // past program memory

    // Half a record, then silence: it is dropped, and the next record stands on its own.
    const Bytes good = wireRecord(0x0300, 0, {1, 2, 3});
    sim.host->send(Bytes(good.begin(), good.begin() + 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(sim.ask(good), "[N]");
    EXPECT_EQ(sim.ask(wireRecord(0x0300, 0, {0xFF})), "[R]"); // would need bits set again

    EXPECT_EQ(sim.process->stop(), 0);
    writeFile(dir.file("expected.hex"), hexLine(0x0300, 0, {1, 2, 3}) + "\n:00000001FF\n");
    EXPECT_TRUE(sameMemory(saved, dir.file("expected.hex")));
    const std::string log = sim.process->errorOutput();
    EXPECT_NE(log.find("checksum wrong"), std::string::npos) << log;
    EXPECT_NE(log.find("Monitor's own area"), std::string::npos) << log;
    EXPECT_NE(log.find("dropped an incomplete record"), std::string::npos) << log;
    EXPECT_NE(log.find("1 records accepted, 4 rejected"), std::string::npos) << log;
}

TEST(MonitorSimProcess, PlaysSilenceRejectionsAndRestartOnTheHostsRecordNumbers) {
    Sim sim({"--silent", "1:2", "--reject", "2:2", "--restart", "3"});
    const Bytes r1 = wireRecord(0x200, 0, {1}), r2 = wireRecord(0x201, 0, {2}),
                r3 = wireRecord(0x202, 0, {3}), r4 = wireRecord(0x203, 0, {4});
    ASSERT_EQ(sim.ask(command), "[N]");
    // The first two sends of record 1 get no answer: the first answer to arrive is the third's.
    sim.host->send(r1);
    sim.host->send(r1);
    EXPECT_EQ(sim.ask(r1), "[N]");
    EXPECT_EQ(sim.ask(r2), "[R]");
    EXPECT_EQ(sim.ask(r2), "[R]");
    EXPECT_EQ(sim.ask(r2), "[N]");
    EXPECT_EQ(sim.ask(r3), "[L]");
    for (const Bytes* r : {&r1, &r2, &r3, &r4})
        EXPECT_EQ(sim.ask(*r), "[N]");
    EXPECT_EQ(sim.process->stop(), 0);
    EXPECT_NE(sim.process->errorOutput().find("6 records accepted, 2 rejected, 2 unanswered"),
              std::string::npos)
        << sim.process->errorOutput();
}

TEST(MonitorSimProcess, ShapesAnswersAsAsked) {
    {
        Sim sim({"--version-reply", "K"});
        EXPECT_EQ(sim.ask(command), "[K]");
    }
    {
        Sim sim({"--noise", "--trailing", "--split"});
        for (int i = 0; i < 5; ++i) {
            sim.host->send(command);
            const std::string got = sim.host->receiveThrough("]\r\n");
            ASSERT_GE(got.size(), 6u);
            EXPECT_EQ(got.find('['), got.size() - 5) << "noise before the answer holds no '['";
            EXPECT_EQ(got.substr(got.size() - 5), "[N]\r\n");
        }
    }
    {
        Sim sim({"--baud", "115200", "--delay-ms", "2", "--split"});
        EXPECT_EQ(sim.ask(command), "[N]");
        EXPECT_EQ(sim.ask(wireRecord(0x200, 0, Bytes(16, 0x5A))), "[N]");
    }
}

// --cross holds an answer until the record's next send begins to arrive; --trail follows one by
// bytes in the same write.
TEST(MonitorSimProcess, HoldsAnAnswerForTheRetryAndFollowsOneWithBytes) {
    Sim sim({"--cross", "1:1:0", "--trail", "1:2:\\r\\n\\x00"});
    ASSERT_EQ(sim.ask(command), "[N]");
    const Bytes record = wireRecord(0x200, 0, {1});
    sim.host->send(record);
    EXPECT_EQ(sim.host->receive(1, std::chrono::milliseconds(300)), "");
    sim.host->send(record);
    EXPECT_EQ(sim.host->receive(9), std::string("[N][N]\r\n") + '\0');
}

TEST(MonitorSimProcess, VanishesAtTheChosenRecordAndKeepsWhatItHad) {
    TempDir dir;
    const std::string saved = dir.file("board.hex");
    Sim sim({"--vanish", "2", "--save", saved});
    ASSERT_EQ(sim.ask(command), "[N]");
    EXPECT_EQ(sim.ask(wireRecord(0x200, 0, {7})), "[N]");
    EXPECT_EQ(sim.ask(wireRecord(0x201, 0, {8})), "");
    EXPECT_TRUE(sim.host->hungUp());
    EXPECT_EQ(sim.process->waitForExit(), 3);
    writeFile(dir.file("expected.hex"), hexLine(0x200, 0, {7}) + "\n:00000001FF\n");
    EXPECT_TRUE(sameMemory(saved, dir.file("expected.hex")));
}

TEST(MonitorSimProcess, ServesOneHostAfterAnotherUntilOnceIsDone) {
    TempDir dir;
    const std::string link = dir.file("ttyBoard");
    Sim sim({"--link", link, "--verbose"});
    struct stat info {};
    ASSERT_EQ(::lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(sim.ask(command), "[N]");
    // The host goes without reading the answer to its last command; the next host must not get it.
    sim.host->send(command);
    ASSERT_TRUE(sim.host->waitReadable());
    sim.host->close();
    for (int i = 0; i < 2; ++i) {
        // A host that reopens at once may come before the simulator notices the close; wait.
        ASSERT_TRUE(sim.process->waitForLog("the host closed the line", i + 1));
        HostLine again(link);
        EXPECT_EQ(again.receive(1, std::chrono::milliseconds(50)), "") << "no stale answer";
        again.send(command);
        EXPECT_EQ(again.receive(3), "[N]");
    }
    EXPECT_EQ(sim.process->stop(), 0);
    EXPECT_NE(::lstat(link.c_str(), &info), 0) << "the link is removed on exit";

    Sim once({"--once", "--verbose"});
    // A look without a command does not end the run. The next host opens only once the simulator
    // has seen this one come and go: a host that opens while the simulator still winds up the
    // last session has its first bytes discarded with that session's.
    ASSERT_TRUE(once.process->waitForLog("the host opened the line", 1));
    once.host->close();
    ASSERT_TRUE(once.process->waitForLog("the host closed the line", 1));
    HostLine host(once.process->serialPath());
    host.send(command);
    EXPECT_EQ(host.receive(3), "[N]");
    host.close();
    EXPECT_EQ(once.process->waitForExit(), 0);
}

TEST(MonitorSimProcess, ExplainsBadUsage) {
    MonitorSimProcess bad(MONITOR_SIM_PATH, {"--silent", "4"});
    EXPECT_EQ(bad.waitForExit(), 64);
    EXPECT_NE(bad.errorOutput().find("--silent '4'"), std::string::npos) << bad.errorOutput();
    MonitorSimProcess help(MONITOR_SIM_PATH, {"--help"});
    EXPECT_EQ(help.serialPath(), "Usage: monitor-sim [OPTION]...");
    EXPECT_EQ(help.waitForExit(), 0);
}

// Under the line model an answer can never come sooner than its item's bytes, the board's delay
// and the answer's bytes take, however late the simulator itself got to write the answer before:
// the host sends its next item only once it has that answer, so it cannot have started sooner.
TEST(MonitorSimProcess, AnAnswerWrittenLateDoesNotHurryTheNextOne) {
    using namespace std::chrono;
    // 22 + 3 bytes at 9600 baud, and the delay.
    const auto least = microseconds(25 * 10'000'000 / 9600) + milliseconds(20);
    for (const auto reaction : {milliseconds(0), milliseconds(100)}) {
        Sim sim({"--baud", "9600", "--delay-ms", "20"});
        ASSERT_EQ(sim.ask(command), "[N]");
        // The simulator is held up (as a busy machine does) while it holds the first answer,
        // which it can write only once it goes on.
        sim.host->send(wireRecord(0x200, 0, Bytes(16, 0x5A))); // 22 bytes on the wire
        std::this_thread::sleep_for(milliseconds(10));
        ASSERT_EQ(::kill(sim.process->pid(), SIGSTOP), 0);
        std::this_thread::sleep_for(milliseconds(80));
        const auto resumed = steady_clock::now();
        ASSERT_EQ(::kill(sim.process->pid(), SIGCONT), 0);
        ASSERT_EQ(sim.host->receive(3), "[N]");
        // The next record goes out the moment the answer is in, or a while after.
        std::this_thread::sleep_for(reaction);
        const auto sent = steady_clock::now();
        sim.host->send(wireRecord(0x210, 0, Bytes(16, 0x5A)));
        ASSERT_EQ(sim.host->receive(3), "[N]");
        if (reaction.count() == 0)
            EXPECT_GE(steady_clock::now() - resumed, least);
        else // the simulator's own wake-up is estimated: half is no estimate's error
            EXPECT_GE(steady_clock::now() - sent, least / 2);
    }
}
