#pragma once

#include "upload/OwedAnswers.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace upload {

// The serial port as the upload logic sees it: exactly the operations it calls. The window
// provides them from its TComPort; tests provide a scripted board.
class PortOperations {
public:
    virtual ~PortOperations() = default;

    virtual bool Connected() const = 0;
    virtual void setPort(const std::string& name) = 0;
    virtual void openPort() = 0;
    virtual void closePort() = 0;
    virtual void setDtrLine(bool on) = 0;
    virtual void setRtsLine(bool on) = 0;
    virtual std::int32_t writeText(const std::string& text) = 0;
    virtual std::int32_t writeBytes(const std::uint8_t* bytes, std::int32_t count) = 0;
    virtual std::int32_t readBytes(std::uint8_t* buffer, std::int32_t count) = 0;
    // Received bytes not read yet: a run discards them before it starts.
    virtual std::int32_t bytesWaiting() = 0;
    // The rate in bits per second at which bytes really cross the line, 0 when it is not known
    // (a pseudo-terminal moves them at once whatever its settings say). With it, an answer that
    // comes sooner than its item could have crossed the line is known not to be that item's.
    virtual std::uint32_t lineRate() const { return 0; }

    // When the byte last read reached the port, on the window's clock (the port notes it as the
    // bytes come, not when a handler gets to them); nothing when the port cannot tell, and the
    // time of the read then stands for it.
    virtual std::optional<std::chrono::steady_clock::time_point> lastReadArrival() const {
        return std::nullopt;
    }

    // What the board may still owe on this port, kept beyond the run and the process so that the
    // next run does not take an earlier run's answers for its own. Told before every write that
    // adds to it and whenever it changes, so that whatever ends the program (a kill too) leaves
    // it behind. Throws std::runtime_error, with a message for the user, when it cannot be kept:
    // the run then stops before its bytes go out.
    virtual void keepOwed(const OwedAnswers& owed) { static_cast<void>(owed); }
    // What was kept for this port (by any earlier run), read as the port opens; nothing owed
    // when nothing was kept.
    virtual OwedAnswers owedBefore() { return {}; }
};

} // namespace upload
