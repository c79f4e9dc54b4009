#pragma once

#include "comport/ComTypes.h"
#include "framework/Exception.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace comport {

// The component's error messages, indexed by error number 1 to 24 (index 0 is unused).
extern const std::array<std::string_view, 25> errorMessages;

inline constexpr int firstErrorNumber = 1;
inline constexpr int lastErrorNumber = 24;

// The kind of error number n (1 to 24).
constexpr TComExceptions errorKind(int number) {
    return static_cast<TComExceptions>(number - 1);
}

// A failure of the serial port component.
class EComPort : public fw::Exception {
public:
    // With the platform code: the message is the table text and " (Error: <code>)".
    EComPort(int number, std::int32_t systemCode);
    // Without one: the message is the table text alone and systemErrorCode is -1.
    explicit EComPort(int number);

    std::int32_t systemErrorCode() const { return systemErrorCode_; }
    std::int32_t errorCode() const { return errorCode_; }

private:
    std::int32_t systemErrorCode_;
    std::int32_t errorCode_;
};

} // namespace comport
