// Opening, closing, applying settings and reporting failures.

#include "comport/CustomComPort.h"
#include "framework/ErrorDisplay.h"

namespace comport {

void TCustomComPort::openPort() {
    if (connected_ || designing()) return;
    handleBeforeOpen();
    createDeviceHandle();
    connected_ = true;
    try {
        configurePort();
        // An open port without the events it was asked to deliver would wait for them forever.
        startEventDelivery();
    } catch (...) {
        destroyDeviceHandle();
        connected_ = false;
        throw;
    }
    handleAfterOpen();
}

namespace {

// Marks a close under way for its whole length, whichever way it ends.
class ClosingScope {
public:
    ClosingScope(std::atomic<bool>& closing, std::atomic<bool>& asked)
        : closing_(closing), asked_(asked) {
        asked_ = false;
        closing_ = true;
    }
    ~ClosingScope() {
        closing_ = false;
        asked_ = false;
    }
    ClosingScope(const ClosingScope&) = delete;
    ClosingScope& operator=(const ClosingScope&) = delete;

private:
    std::atomic<bool>& closing_;
    std::atomic<bool>& asked_;
};

} // namespace

bool TCustomComPort::closeAlreadyUnderWay() {
    if (!closing_.load()) return false;
    closeAsked_ = true;
    return true;
}

void TCustomComPort::closePort() {
    if (!connected_ || designing() || closeAlreadyUnderWay()) return;
    const ClosingScope scope(closing_, closeAsked_);
    handleBeforeClose();
    abortAllRequests();
    stopEventDelivery();
    destroyDeviceHandle();
    connected_ = false;
    handleAfterClose();
}

void TCustomComPort::closeForDestruction() noexcept {
    auto step = [](auto&& action) {
        try {
            action();
        } catch (...) {
            // Nothing may leave a destructor; with OnException assigned the component's own
            // failures have already been reported there.
        }
    };
    if (connected_ && !designing()) {
        const ClosingScope scope(closing_, closeAsked_);
        step([this] { handleBeforeClose(); });
        step([this] { abortAllRequests(); });
        step([this] { stopEventDelivery(); });
        step([this] { destroyDeviceHandle(); });
        connected_ = false;
        step([this] { handleAfterClose(); });
    }
    // Whatever state the port was left in, the device itself is released.
    step([this] { destroyDeviceHandle(); });
}

void TCustomComPort::createDeviceHandle() {
    // The platform's device namespace prefix; the device layer resolves "COMn" and paths.
    portHandle_ = driver_->createFile("\\\\.\\" + port_);
    if (portHandle_ == driver::invalidHandleValue)
        reportError(CE_OpenFailed + 1, driver_->getLastError());
}

void TCustomComPort::destroyDeviceHandle() {
    if (portHandle_ == driver::invalidHandleValue) return;
    if (driver_->closeHandle(portHandle_)) portHandle_ = driver::invalidHandleValue;
}

void TCustomComPort::configurePort() {
    applyBufferSizes();
    applyLineSettings();
    applyTimeoutSettings();
}

void TCustomComPort::applyBufferSizes() {
    if (!mayApply()) return;
    if (!driver_->setupComm(portHandle_, static_cast<std::uint32_t>(buffer_->InputSize()),
                            static_cast<std::uint32_t>(buffer_->OutputSize())))
        reportError(CE_SetupComFailed + 1, driver_->getLastError());
}

void TCustomComPort::applyLineSettings() {
    if (!mayApply()) return;
    if (!driver_->setCommState(portHandle_, deviceControlBlock()))
        reportError(CE_SetStateFailed + 1, driver_->getLastError());
}

void TCustomComPort::applyTimeoutSettings() {
    if (!mayApply()) return;
    if (!driver_->setCommTimeouts(portHandle_, commTimeouts()))
        reportError(CE_TimeoutsFailed + 1, driver_->getLastError());
}

void TCustomComPort::finishLoading() {
    fw::TComponent::finishLoading();
    if (connected_ && !designing()) {
        connected_ = false;
        try {
            openPort();
        } catch (const std::exception& error) {
            fw::showException(error);
        }
    }
}

namespace {

// The platform's text for a code as the runtime presents it: at most 256 characters, without
// trailing blanks, control characters or full stops.
std::string systemErrorText(driver::ComDriver& device, std::int64_t code) {
    std::string text = device.systemErrorMessage(static_cast<std::uint32_t>(code));
    if (text.size() > 256) text.resize(256);
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.back());
        if (c > ' ' && c != '.') break;
        text.pop_back();
    }
    return "System Error.  Code: " + std::to_string(code) + ".\r\n" + text;
}

} // namespace

void TCustomComPort::reportError(std::uint16_t number, std::int64_t systemError) {
    if (OnException.assigned()) {
        const std::string winMessage =
            systemError > 0 ? systemErrorText(*driver_, systemError) : "";
        const std::string comportMessage = number >= firstErrorNumber && number <= lastErrorNumber
                                               ? std::string(errorMessages[number])
                                               : std::string();
        OnException(this, errorKind(number), comportMessage, systemError, winMessage);
        return;
    }
    if (systemError > 0) throw EComPort(number, static_cast<std::int32_t>(systemError));
    throw EComPort(number);
}

} // namespace comport
