#pragma once

#include "comport/ComTypes.h"
#include "comport/driver/ComDriver.h"

#include <cstdint>
#include <memory>

namespace comport {

// One overlapped read or write. The record starts with the platform's request block, whose event
// is the request's completion event (manual reset, signalled while nothing runs). A write keeps a
// copy of its bytes in `data`. Made by TCustomComPort::createRequest; one request at a time.
class TComRequest {
public:
    driver::Overlapped overlapped;
    TRequestKind kind = rkWrite;
    std::unique_ptr<std::uint8_t[]> data;
    std::int32_t size = 0;

    // Closes the completion event. A request still running is cancelled and waited for first,
    // so the device never writes into a record (or buffer) that is gone.
    ~TComRequest();
    TComRequest(const TComRequest&) = delete;
    TComRequest& operator=(const TComRequest&) = delete;

private:
    friend class TCustomComPort;
    explicit TComRequest(std::shared_ptr<driver::ComDriver> driver);

    std::shared_ptr<driver::ComDriver> driver_;
    driver::Handle device_ = driver::invalidHandleValue; // the device of the latest request
};

} // namespace comport
