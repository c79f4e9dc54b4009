#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace upload::scripted {

// The calls the upload logic made on the port and on the window, in the order it made them, as
// short texts ("writeText (%P31)", "writeBytes 3A", "Timer1 on", "Label4 2", ...). Reads are not
// listed: they only follow the events.
class CallLog {
public:
    void add(std::string entry) { entries_.push_back(std::move(entry)); }
    const std::vector<std::string>& entries() const { return entries_; }
    std::size_t mark() const { return entries_.size(); }
    std::vector<std::string> since(std::size_t mark) const {
        return {entries_.begin() + static_cast<std::ptrdiff_t>(mark), entries_.end()};
    }
    void clear() { entries_.clear(); }

private:
    std::vector<std::string> entries_;
};

} // namespace upload::scripted
