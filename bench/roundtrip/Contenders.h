#pragma once

// The programs that answer the far end, one per contender. Each opens `path`, answers every three
// bytes received with one byte, and after `warmUp` answers takes the process's resource usage,
// then again after `trips` more; it returns the difference.

#include <string>
#include <sys/resource.h>

namespace roundtrip {

struct Usage {
    double cpuMicros = 0;
    long voluntary = 0;
    long involuntary = 0;
};

// Counts the answers and takes the snapshots; `answered` is called once per reply written, from
// whichever thread wrote it, and gives true once the last one has gone out.
class Tally {
public:
    Tally(long warmUp, long trips) : warmUp_(warmUp), last_(warmUp + trips) {}
    bool answered();
    Usage usage() const;

private:
    long warmUp_, last_, count_ = 0;
    rusage start_{}, end_{};
};

// A handler's reply buffer: bytes are added as they arrive; gives the number of replies owed.
int repliesOwed(int& pending, int received);

int serveCLoop(const std::string& path, Tally& tally);
int serveQt(const std::string& path, Tally& tally, int argc, char** argv);
int serveComPort(const std::string& path, bool threadSync, Tally& tally);

} // namespace roundtrip
