#pragma once

// The upload logic's port operations, served by a TComPort. The upload logic knows nothing of the
// component and the component nothing of the upload; this adapter is the only place they meet.

#include "comport/CustomComPort.h"
#include "frontend/OwedFile.h"
#include "upload/PortOperations.h"

#include <string>

namespace upload::frontend {

class ComPortOperations : public upload::PortOperations {
public:
    explicit ComPortOperations(comport::TCustomComPort& port) : port_(port) {}

    bool Connected() const override { return port_.Connected(); }
    void setPort(const std::string& name) override { port_.setPort(name); }
    void openPort() override { port_.openPort(); }
    void closePort() override { port_.closePort(); }
    void setDtrLine(bool on) override { port_.setDtrLine(on); }
    void setRtsLine(bool on) override { port_.setRtsLine(on); }
    std::int32_t writeText(const std::string& text) override { return port_.writeText(text); }
    std::int32_t writeBytes(const std::uint8_t* bytes, std::int32_t count) override {
        return port_.writeBytes(bytes, count);
    }
    std::int32_t readBytes(std::uint8_t* buffer, std::int32_t count) override {
        return port_.readBytes(buffer, count);
    }
    std::int32_t bytesWaiting() override { return port_.bytesWaiting(); }
    std::uint32_t lineRate() const override;
    std::optional<std::chrono::steady_clock::time_point> lastReadArrival() const override {
        return port_.lastReadArrival();
    }
    // Kept per device in the lock folder, for the next run whatever program or user runs it.
    void keepOwed(const upload::OwedAnswers& owed) override { owed_.keep(port_.Port(), owed); }
    upload::OwedAnswers owedBefore() override { return owed_.read(port_.Port()); }

private:
    comport::TCustomComPort& port_;
    // The port name lineRate() last looked at, and whether it is a pseudo-terminal.
    mutable std::string lookedAt_;
    mutable bool pseudoTerminal_ = false;
    OwedFile owed_;
};

} // namespace upload::frontend
