#pragma once

#include <exception>
#include <string>

namespace fw {

// Base of every failure the framework and the component raise; carries the message a user sees.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// A text that is not a valid integer.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

} // namespace fw
