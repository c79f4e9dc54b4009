#include "comport/driver/posix/InputFilter.h"

namespace comport::driver {

void InputFilter::configure(bool parityMarks, char errorChar, bool discardNull) {
    if (parityMarks != parityMarks_) state_ = State::plain;
    parityMarks_ = parityMarks;
    errorChar_ = static_cast<std::uint8_t>(errorChar);
    discardNull_ = discardNull;
}

std::size_t InputFilter::decode(const std::uint8_t* raw, std::size_t count, std::uint8_t* out) {
    std::size_t produced = 0;
    auto emit = [&](std::uint8_t b) {
        if (discardNull_ && b == 0) return;
        out[produced++] = b;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = raw[i];
        switch (state_) {
        case State::plain:
            if (parityMarks_ && b == 0xFF)
                state_ = State::afterEscape;
            else
                emit(b);
            break;
        case State::afterEscape:
            if (b == 0) {
                state_ = State::afterMark;
            } else {
                emit(b); // \377 \377 is a real \377
                state_ = State::plain;
            }
            break;
        case State::afterMark:
            // A null byte received with a parity error is marked as a break is (\377 \0 \0), so
            // both take the error character and count as an error: passing a null on would hand
            // out a byte that was never received as sent.
            emit(errorChar_);
            ++replaced_;
            ++replacedTotal_;
            state_ = State::plain;
            break;
        }
    }
    return produced;
}

} // namespace comport::driver
