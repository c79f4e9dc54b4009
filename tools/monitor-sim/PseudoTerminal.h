#pragma once

#include <string>

namespace monitorsim {

// The simulator's end of a pseudo-terminal pair, set raw, non-blocking. The other end (the
// "serial end") is what the uploader opens as its port. Failures throw std::system_error.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int fd() const { return controller_; }
    const std::string& serialPath() const { return serialPath_; }

    // True while some process holds the serial end open.
    bool hostPresent() const;
    // A descriptor that turns readable when the serial end is opened, so that waiting for the next
    // host needs no polling; -1 where the system cannot watch the device (then poll hostPresent).
    int openWatch() const { return watch_; }
    void clearOpenWatch();
    // Throws away bytes still queued in either direction, so that a new host finds no stale
    // answers. Call it when the host has gone.
    void discardQueued();
    // Closes the controller end: the serial end hangs up and the device goes away.
    void close();

private:
    int controller_ = -1;
    int watch_ = -1;
    std::string serialPath_;
};

// A symbolic link that lives as long as this object: made (replacing an older link of that name,
// never another kind of file) by the constructor, removed by the destructor if it still points
// where it was made to point.
class SymbolicLink {
public:
    SymbolicLink(std::string target, std::string path);
    ~SymbolicLink();
    SymbolicLink(const SymbolicLink&) = delete;
    SymbolicLink& operator=(const SymbolicLink&) = delete;

private:
    std::string target_;
    std::string path_;
};

} // namespace monitorsim
