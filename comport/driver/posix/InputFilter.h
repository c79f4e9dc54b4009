#pragma once

#include <cstddef>
#include <cstdint>

namespace comport::driver {

// What the reading side does to received bytes that termios cannot do itself: putting the error
// character in place of a byte received with a parity or framing error (the driver marks such a
// byte as \377 \0 byte, a break or an errored null as \377 \0 \0 and a real \377 as \377 \377), and
// discarding null bytes. A mark split across two reads is completed by the next one.
class InputFilter {
public:
    void configure(bool parityMarks, char errorChar, bool discardNull);
    bool active() const { return parityMarks_ || discardNull_; }
    void reset() { state_ = State::plain; }

    // Decodes `count` raw bytes into `out` (room for `count` bytes); gives the bytes produced.
    std::size_t decode(const std::uint8_t* raw, std::size_t count, std::uint8_t* out);

    // Bytes replaced so far, counting on (wraps around); for telling whether a decode replaced any.
    std::uint32_t replacedSoFar() const { return replacedTotal_; }

    // Bytes replaced since the last call.
    std::uint32_t takeReplaced() {
        const std::uint32_t n = replaced_;
        replaced_ = 0;
        return n;
    }

private:
    enum class State { plain, afterEscape, afterMark };

    bool parityMarks_ = false;
    bool discardNull_ = false;
    std::uint8_t errorChar_ = 0;
    State state_ = State::plain;
    std::uint32_t replaced_ = 0;
    std::uint32_t replacedTotal_ = 0;
};

} // namespace comport::driver
