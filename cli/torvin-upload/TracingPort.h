#pragma once

#include "upload/PortOperations.h"

#include <chrono>
#include <cstdio>

namespace torvinupload {

// Passes every port operation on and writes what went over the line to `out`, one line per call,
// stamped with the seconds since the trace began:
//      0.004213 > 3A            bytes written
//      0.004931 < 5B            bytes read
//      0.000102 open COM1       other operations
// The upload logic writes a record one byte per call, so the stamps show the pace of the line.
class TracingPort : public upload::PortOperations {
public:
    TracingPort(upload::PortOperations& port, std::FILE* out);

    bool Connected() const override { return port_.Connected(); }
    void setPort(const std::string& name) override;
    void openPort() override;
    void closePort() override;
    void setDtrLine(bool on) override;
    void setRtsLine(bool on) override;
    std::int32_t writeText(const std::string& text) override;
    std::int32_t writeBytes(const std::uint8_t* bytes, std::int32_t count) override;
    std::int32_t readBytes(std::uint8_t* buffer, std::int32_t count) override;
    std::int32_t bytesWaiting() override { return port_.bytesWaiting(); }
    std::uint32_t lineRate() const override { return port_.lineRate(); }
    std::optional<std::chrono::steady_clock::time_point> lastReadArrival() const override {
        return port_.lastReadArrival();
    }
    void keepOwed(const upload::OwedAnswers& owed) override { port_.keepOwed(owed); }
    upload::OwedAnswers owedBefore() override { return port_.owedBefore(); }

private:
    void note(const char* what, const std::uint8_t* bytes, std::int32_t count);
    void note(const std::string& what);

    upload::PortOperations& port_;
    std::FILE* out_;
    std::string name_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace torvinupload
