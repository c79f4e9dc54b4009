#include "comport/ArrivalMarks.h"

#include <algorithm>

namespace comport {

void ArrivalMarks::restart(std::uint64_t generation) {
    generation_ = generation;
    read_ = 0;
    marks_.clear();
}

void ArrivalMarks::seen(std::uint64_t generation, std::uint32_t waiting, Time at) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (generation != generation_) restart(generation);
    const std::uint64_t total = read_ + waiting;
    const std::uint64_t marked = marks_.empty() ? read_ : marks_.back().upTo;
    if (total < marked) {
        // Bytes went without being read (a purge): which ones is not known, so the marks left
        // would place the next bytes too early. What waits now is found now.
        marks_.clear();
        marks_.push_back({total, at});
        return;
    }
    if (total > marked) marks_.push_back({total, at});
}

void ArrivalMarks::read(std::uint64_t generation, std::uint32_t count, Time at) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (generation != generation_) restart(generation);
    if (count == 0) return;
    read_ += count;
    // The newest byte read is number read_ - 1: the first mark past it found it. Bytes that no
    // mark covers were found by this read.
    Time found = at;
    for (const Mark& mark : marks_)
        if (mark.upTo >= read_) {
            found = std::min(mark.at, at);
            break;
        }
    while (!marks_.empty() && marks_.front().upTo <= read_)
        marks_.pop_front();
    lastRead_ = found;
}

std::optional<ArrivalMarks::Time> ArrivalMarks::lastRead() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return lastRead_;
}

} // namespace comport
