#pragma once

#include <atomic>

namespace comport {

// Marks a walk over the port's links under way, so that registration refuses to change the list
// beneath it.
class NotifyingScope {
public:
    explicit NotifyingScope(std::atomic<int>& counter) : counter_(counter) { ++counter_; }
    ~NotifyingScope() { --counter_; }
    NotifyingScope(const NotifyingScope&) = delete;
    NotifyingScope& operator=(const NotifyingScope&) = delete;

private:
    std::atomic<int>& counter_;
};

} // namespace comport
