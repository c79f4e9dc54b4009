// The port on real pseudo-terminals: bytes, settings as the kernel sees them, exclusivity and a
// far end that goes away.

#include "PortFixture.h"
#include "comport/PortAccess.h"
#include "framework/ThreadError.h"
#include "tests/support/Pty.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sys/resource.h>
#include <sys/wait.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace comport;

namespace {

struct PortOnPty : ::testing::Test {
    testsupport::PtyPair pty;
    TComPort port;

    void SetUp() override {
        port.setPort(pty.path());
        port.openPort();
    }
};

} // namespace

TEST_F(PortOnPty, OpensByPathWithTheDefaultLineSettings) {
    ASSERT_TRUE(port.Connected());
    termios t{};
    ASSERT_TRUE(pty.terminalSettings(&t));
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL | INLCR | IGNCR | ISTRIP));
    EXPECT_FALSE(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN));
    EXPECT_FALSE(t.c_oflag & OPOST);
}

TEST_F(PortOnPty, WritesExactlyTheBytesGiven) {
    EXPECT_EQ(port.writeText(":"), 1);
    EXPECT_EQ(pty.receive(1), ":");
    const std::uint8_t record[] = {0x10, 0x0A, 0x0D, 0x00, 0xFF, 0x03};
    for (std::uint8_t b : record)
        EXPECT_EQ(port.writeBytes(&b, 1), 1);
    EXPECT_EQ(pty.receive(6), std::string("\x10\x0A\x0D\x00\xFF\x03", 6));
    EXPECT_EQ(pty.drain(), "");
}

// What writeBytes reports written leaves the port, also when the port closes right after it and
// its event thread ends on the way.
TEST_F(PortOnPty, BytesReportedWrittenAllLeaveAtClose) {
    ASSERT_TRUE(port.Events().contains(evTxEmpty)); // the default: an event thread runs
    std::string bytes(8000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    ASSERT_EQ(port.writeText(bytes), 8000);
    port.closePort();
    EXPECT_EQ(pty.receive(bytes.size()), bytes);
}

TEST_F(PortOnPty, ReadsWhatHasArrivedWithoutWaiting) {
    std::uint8_t b = 0;
    EXPECT_EQ(port.readBytes(&b, 1), 0);
    EXPECT_EQ(port.bytesWaiting(), 0);
    pty.send(std::string("[N]\r\n\x00", 6));
    for (int i = 0; i < 200 && port.bytesWaiting() < 6; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(port.readBytes(&b, 1), 1);
    EXPECT_EQ(b, '[');
    EXPECT_EQ(port.bytesWaiting(), 5);
    std::uint8_t rest[8] = {};
    EXPECT_EQ(port.readBytes(rest, 8), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rest), 5), std::string("N]\r\n\x00", 5));
    EXPECT_EQ(port.readBytes(&b, 1), 0);
}

TEST_F(PortOnPty, NegativeOrAbsurdQueueSizesAreRefused) {
    for (const std::int32_t size : {-2, 0x7FFFFFFE, 64 << 20}) {
        for (const bool input : {true, false}) {
            SCOPED_TRACE(std::to_string(size) + (input ? " in" : " out"));
            const EComPort e = raised([&] {
                input ? port.Buffer().setInputSize(size) : port.Buffer().setOutputSize(size);
            });
            EXPECT_EQ(e.errorCode(), 9);
            EXPECT_EQ(e.systemErrorCode(), EINVAL);
            port.setBuffer(TComBuffer());
        }
    }
    // A size in reason is taken; opening with a refused one fails and leaves the port closed.
    EXPECT_NO_THROW(port.Buffer().setInputSize(1000000));
    port.closePort();
    port.Buffer().setInputSize(-2);
    EXPECT_EQ(raised([&] { port.openPort(); }).errorCode(), 9);
    EXPECT_FALSE(port.Connected());
}

// With parity replacement the driver doubles a received 0xFF, and discarded nulls still arrive:
// the waiting count is what a read hands out, also while no event thread takes the bytes in.
TEST_F(PortOnPty, TheWaitingCountIsWhatAReadDelivers) {
    port.closePort();
    port.setEvents({});
    port.Parity().setCheck(true);
    port.Parity().setReplace(true);
    port.Parity().setReplaceChar('?');
    port.setDiscardNull(true);
    port.openPort();
    // The last byte marks the end: once it is counted, everything before it has come.
    pty.send(std::string("\xFF"
                         "a\0\0bc",
                         6));
    for (int i = 0; i < 400 && port.bytesWaiting() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(port.bytesWaiting(), 4);
    std::uint8_t got[8] = {};
    EXPECT_EQ(port.readBytes(got, 8), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 4), "\xFF"
                                                            "abc");
    EXPECT_EQ(port.bytesWaiting(), 0);
}

TEST_F(PortOnPty, ModemLinesOfAPseudoTerminalReadOffAndAcceptChanges) {
    EXPECT_TRUE(port.modemSignals().empty());
    EXPECT_NO_THROW(port.setDtrLine(true));
    EXPECT_NO_THROW(port.setRtsLine(false));
    EXPECT_TRUE(port.lineErrors().empty());
}

TEST_F(PortOnPty, SecondOpenOfTheSameDeviceFails) {
    TComPort second;
    second.setPort(pty.path());
    const EComPort e = raised([&] { second.openPort(); });
    EXPECT_EQ(e.errorCode(), 1);
    EXPECT_GT(e.systemErrorCode(), 0);
    EXPECT_FALSE(second.Connected());
    // Released on close: then the other port gets it.
    port.closePort();
    EXPECT_NO_THROW(second.openPort());
    EXPECT_TRUE(second.Connected());
}

// A terminal program that keeps to the serial tools' lock files, and nothing else, opens the
// device only when it finds no live lock; so the port takes that lock and honours it.
TEST(PortOnDevices, TheSerialToolsLockFileIsTakenHonouredAndReleased) {
    const std::string folder = "/run/lock";
    if (::access(folder.c_str(), W_OK) != 0) GTEST_SKIP() << folder << " cannot be written here";
    testsupport::PtyPair pty(false);
    std::string name; // a device in a folder of /dev: pts/3 is written pts%2F3
    for (const char c : pty.path().substr(std::string("/dev/").size()))
        name += c == '/' ? std::string("%2F") : std::string(1, c);
    const std::string lock = folder + "/LCK.." + name;
    auto content = [&] {
        std::ifstream in(lock);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    auto holdAs = [&](pid_t pid) { std::ofstream(lock) << std::setw(10) << pid << "\n"; };
    char mine[16];
    std::snprintf(mine, sizeof mine, "%10d\n", static_cast<int>(::getpid()));

    TComPort port;
    port.setPort(pty.path());
    port.openPort();
    EXPECT_EQ(content(), mine);
    port.closePort();
    EXPECT_NE(::access(lock.c_str(), F_OK), 0) << "released on close";

    holdAs(1); // a live holder keeps the port out and keeps its lock
    const EComPort e = raised([&] { port.openPort(); });
    EXPECT_EQ(e.errorCode(), 1);
    EXPECT_EQ(e.systemErrorCode(), EBUSY);
    EXPECT_EQ(content().find_first_not_of(' '), 9u);
    EXPECT_NE(accessAdvice(pty.path(), EBUSY).find(lock + " says that process 1 "),
              std::string::npos);

    const pid_t gone = ::fork(); // a holder that has ended: its lock is stale
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    holdAs(gone);
    EXPECT_NO_THROW(port.openPort());
    EXPECT_EQ(content(), mine);
    port.closePort();
    ::unlink(lock.c_str());
}

TEST_F(PortOnPty, AFarEndThatGoesAwayMakesReadsAndWritesFail) {
    pty.closeController();
    std::uint8_t b = 0;
    const EComPort r = raised([&] { port.readBytes(&b, 1); });
    EXPECT_EQ(r.errorCode(), 3);
    EXPECT_GT(r.systemErrorCode(), 0);
    const EComPort w = raised([&] { port.writeText(":"); });
    EXPECT_EQ(w.errorCode(), 2);
    EXPECT_GT(w.systemErrorCode(), 0);
    EXPECT_NO_THROW(port.closePort());
}

TEST_F(PortOnPty, ClosedPortIsPortNotOpen) {
    port.closePort();
    std::uint8_t b = 0;
    EXPECT_STREQ(raised([&] { port.writeBytes(&b, 1); }).what(), "Port Not Open");
    const EComPort e = raised([&] { port.bytesWaiting(); });
    EXPECT_EQ(e.errorCode(), 10);
    EXPECT_EQ(e.systemErrorCode(), EBADF);
}

// With a single descriptor left the device opens, but the event thread cannot make the
// descriptor its wait wakes on: the open fails, saying why, and releases the device, rather than
// leaving an open port that never reports an event.
TEST(PortOnDevices, AnOpenWhoseEventThreadCannotWaitFailsAndReleasesTheDevice) {
    testsupport::PtyPair pty;
    TComPort port;
    port.setPort(pty.path());
    // What runs below runs once with descriptors to spare: the undefined-behaviour checker looks
    // at the first objects of each type through a pipe of its own, which it could not make there.
    port.openPort();
    port.closePort();
    try {
        throw std::system_error(EMFILE, std::generic_category());
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), EMFILE) << e.what();
    }
    try {
        throw fw::EThread("none");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "none");
    }
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    int highest = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        highest = std::max(highest, std::stoi(entry.path().filename().string()));
    rlimit lowered = before;
    lowered.rlim_cur = static_cast<rlim_t>(highest) + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> held;
    for (int fd; (fd = ::dup(pty.controller())) >= 0;)
        held.push_back(fd);
    ::close(held.back()); // the one left
    held.pop_back();
    std::string failure;
    try {
        port.openPort();
    } catch (const std::exception& e) {
        failure = e.what();
    }
    const bool connected = port.Connected();
    port.closePort();
    for (const int fd : held)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &before);
    EXPECT_FALSE(connected);
    EXPECT_NE(failure.find(std::strerror(EMFILE)), std::string::npos) << failure;
    port.openPort(); // the device was released
    EXPECT_TRUE(port.Connected());
}

TEST(PortOnDevices, AMissingPortGivesTheFileNotFoundCode) {
    TComPort port;
    port.setPort("/dev/no-such-serial-port");
    const EComPort e = raised([&] { port.openPort(); });
    EXPECT_STREQ(e.what(), "Unable to open com port (Error: 2)");
    EXPECT_EQ(e.errorCode(), 1);
    EXPECT_EQ(e.systemErrorCode(), 2);
    port.setPort("COM0");
    EXPECT_EQ(raised([&] { port.openPort(); }).systemErrorCode(), 2);
}

TEST(PortOnDevices, AFileThatIsNotATerminalIsRefused) {
    TComPort port;
    port.setPort("/dev/null");
    const EComPort e = raised([&] { port.openPort(); });
    EXPECT_EQ(e.errorCode(), 1);
    EXPECT_EQ(e.systemErrorCode(), ENOTTY);
}
