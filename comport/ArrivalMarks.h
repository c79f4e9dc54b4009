#pragma once

// When received bytes reached a port, as far as the port can tell. Whenever a thread finds the
// input queue holding bytes no mark covers yet (the event thread as it wakes for them, a query of
// the waiting count, a read), those bytes are marked with the time it found them; reading takes
// the marks along in the queue's order. A mark is never earlier than the bytes' arrival, and it
// does not wait for the hand-over of the event to a handler.

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace comport {

class ArrivalMarks {
public:
    using Time = std::chrono::steady_clock::time_point;

    // `waiting` bytes wait in the queue of device `generation`, found at `at`.
    void seen(std::uint64_t generation, std::uint32_t waiting, Time at);
    // `count` bytes were read from the queue of device `generation`, at `at`.
    void read(std::uint64_t generation, std::uint32_t count, Time at);
    // When the newest byte of the latest read that got any reached the port.
    std::optional<Time> lastRead() const;

private:
    // A new device (or the queue emptied other than by reading): nothing marked stands.
    void restart(std::uint64_t generation);

    struct Mark {
        std::uint64_t upTo; // the bytes before this count (since the restart) were found by then
        Time at;
    };
    mutable std::mutex lock_;
    std::uint64_t generation_ = 0;
    std::uint64_t read_ = 0; // bytes read since the restart
    std::deque<Mark> marks_;
    std::optional<Time> lastRead_;
};

} // namespace comport
