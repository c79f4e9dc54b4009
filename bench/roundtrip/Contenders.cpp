#include "bench/roundtrip/Contenders.h"

#include "comport/ComPort.h"
#include "framework/MainThread.h"

#include <QCoreApplication>
#include <QSerialPort>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace roundtrip {

namespace {

constexpr char reply = '!';

double micros(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
}

// The last answer may still be on its way when the program is done; closing the port could
// discard it, so each waits for the far end's word that it has everything.
void waitForFarEnd() {
    char line[16];
    [[maybe_unused]] const char* got = std::fgets(line, sizeof line, stdin);
}

} // namespace

bool Tally::answered() {
    ++count_;
    if (count_ == warmUp_) getrusage(RUSAGE_SELF, &start_);
    if (count_ == last_) getrusage(RUSAGE_SELF, &end_);
    return count_ >= last_;
}

Usage Tally::usage() const {
    Usage u;
    u.cpuMicros = micros(end_.ru_utime) + micros(end_.ru_stime) - micros(start_.ru_utime) -
                  micros(start_.ru_stime);
    u.voluntary = end_.ru_nvcsw - start_.ru_nvcsw;
    u.involuntary = end_.ru_nivcsw - start_.ru_nivcsw;
    return u;
}

int repliesOwed(int& pending, int received) {
    pending += received;
    const int owed = pending / 3;
    pending %= 3;
    return owed;
}

// A blocking read and write loop, the least a program can do.
int serveCLoop(const std::string& path, Tally& tally) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::perror("c-loop: open");
        return 1;
    }
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
    std::printf("ready\n");
    std::fflush(stdout);
    int pending = 0;
    for (;;) {
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            std::fprintf(stderr, "c-loop: the line went away\n");
            return 1;
        }
        for (int owed = repliesOwed(pending, static_cast<int>(n)); owed > 0; --owed) {
            if (::write(fd, &reply, 1) != 1) return 1;
            if (tally.answered()) {
                waitForFarEnd();
                ::close(fd);
                return 0;
            }
        }
    }
}

// QSerialPort as its users write it: answer from readyRead, the event loop does the rest.
int serveQt(const std::string& path, Tally& tally, int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QSerialPort port(QString::fromStdString(path));
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "qt: cannot open: %s\n", port.errorString().toLocal8Bit().constData());
        return 1;
    }
    int pending = 0;
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        char buffer[64];
        const qint64 n = port.read(buffer, sizeof buffer);
        for (int owed = repliesOwed(pending, static_cast<int>(n)); owed > 0; --owed) {
            port.write(&reply, 1);
            if (tally.answered()) {
                port.flush(); // the last answer must not wait for a loop that is ending
                QCoreApplication::quit();
            }
        }
    });
    std::printf("ready\n");
    std::fflush(stdout);
    const int status = app.exec();
    waitForFarEnd();
    return status;
}

// The component with the upload's defaults (all events watched), answering from OnRxChar.
int serveComPort(const std::string& path, bool threadSync, Tally& tally) {
    comport::TComPort port;
    port.setPort(path);
    port.setSyncMethod(threadSync ? comport::smThreadSync : comport::smNone);
    std::atomic<bool> done{false};
    int pending = 0;
    port.OnRxChar = [&](fw::TObject*, std::int32_t count) {
        std::uint8_t buffer[64];
        const std::int32_t n = port.readBytes(buffer, std::min<std::int32_t>(count, sizeof buffer));
        for (int owed = repliesOwed(pending, n); owed > 0; --owed) {
            const auto byte = static_cast<std::uint8_t>(reply);
            port.writeBytes(&byte, 1);
            if (tally.answered()) {
                done.store(true);
                done.notify_all();
            }
        }
    };
    port.openPort();
    std::printf("ready\n");
    std::fflush(stdout);
    if (threadSync) {
        while (!done.load())
            fw::waitForSynchronize(std::chrono::milliseconds(1000));
    } else {
        done.wait(false);
    }
    waitForFarEnd();
    port.closePort();
    return 0;
}

} // namespace roundtrip
