// Opening, closing, applying settings and reporting failures.

#include "comport/CustomComPort.h"
#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"
#include "framework/MainThread.h"
#include "framework/MessageWindow.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <typeinfo>

namespace comport {

void TCustomComPort::openPort() {
    if (connected_ || designing()) return;
    const std::shared_ptr<PortLife> life = life_;
    openedAs_ = &typeid(*this);
    openedAsName_ = className();
    handleBeforeOpen();
    if (!life->alive) return; // destroyed by its handler
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
    // Line events are handed over only from the end of openPort, also when reporting the lines
    // fails (the port stays open then): a handler that closes or reopens the port must not run
    // while openPort still works on it, on the event thread (smNone) in particular.
    struct BeginDelivery {
        TCustomComPort& port;
        const std::shared_ptr<PortLife>& life;
        ~BeginDelivery() {
            if (life->alive) port.beginEventDelivery();
        }
    } beginDelivery{*this, life};
    handleAfterOpen();
}

namespace {

// Claims the close of a port for the calling thread, for the length of the close. Only one thread
// closes at a time; a claim that loses marks the rest of the hand-over it may come from as
// dropped.
class CloseClaim {
public:
    explicit CloseClaim(std::shared_ptr<PortLife> life) : life_(std::move(life)) {
        std::lock_guard g(life_->closeLock);
        if (life_->closer == std::thread::id{}) {
            life_->closer = std::this_thread::get_id();
            life_->closeAsked = false;
            won_ = true;
        } else {
            holder_ = life_->closer;
            life_->closeAsked = true;
        }
    }
    ~CloseClaim() {
        if (!won_) return;
        std::lock_guard g(life_->closeLock);
        life_->closer = std::thread::id{};
        life_->closeAsked = false;
    }
    CloseClaim(const CloseClaim&) = delete;
    CloseClaim& operator=(const CloseClaim&) = delete;

    bool won() const { return won_; }
    // A claim that lost to a close under way on this very thread (asked for from its handlers).
    bool heldHere() const { return holder_ == std::this_thread::get_id(); }

private:
    std::shared_ptr<PortLife> life_;
    bool won_ = false;
    std::thread::id holder_;
};

// Waits until no close is under way, serving meanwhile what the calling thread serves in the
// framework's waits: the closing thread's handlers may hand work to it.
void waitForCloseToEnd(PortLife& life) {
    using namespace std::chrono_literals;
    for (;;) {
        {
            std::lock_guard g(life.closeLock);
            if (life.closer == std::thread::id{}) return;
        }
        if (fw::isMainThread())
            fw::waitForSynchronize(10ms);
        else
            fw::waitForSentMessages(10ms);
    }
}

} // namespace

void TCustomComPort::closePort() {
    if (designing()) return;
    const std::shared_ptr<PortLife> life = life_;
    const CloseClaim claim(life);
    // With a close under way (on another thread, or on this one and asked for again from its
    // handlers) that close closes the port. This call cannot wait for it, since it may itself be
    // waiting for the hand-over this call comes from.
    if (!claim.won() || !connected_) return;
    handleBeforeClose();
    if (!life->alive) return; // destroyed, and so closed, by a handler
    abortAllRequests();
    stopEventDelivery();
    if (!life->alive) return;
    destroyDeviceHandle();
    connected_ = false;
    handleAfterClose();
}

void TCustomComPort::closeBeforeDestruction() noexcept {
    // typeid gives the class whose destructor runs now; the port was opened as a later one,
    // whose destructor has left it open.
    if (connected_ && openedAs_ && *openedAs_ != typeid(*this))
        fw::showException(fw::Exception(
            "A serial port (" + openedAsName_ +
            ") was destroyed while open, and its class did not close it in its own destructor: "
            "its close hooks were skipped, and its event handlers may have run on freed "
            "members. The class must call closeBeforeDestruction() in its destructor."));
    closeForDestruction();
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
    const std::shared_ptr<PortLife> life = life_;
    // Another thread's close has to be over before the port goes. A close under way on this
    // thread (the port destroyed by one of its handlers) cannot be waited for: the steps run here,
    // and that close stops when it finds the port gone.
    std::optional<CloseClaim> claim;
    for (;;) {
        claim.emplace(life);
        if (claim->won() || claim->heldHere()) break;
        claim.reset();
        step([&] { waitForCloseToEnd(*life); });
    }
    if (connected_ && !designing()) {
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
    const driver::Handle handle = driver_->createFile("\\\\.\\" + port_);
    const std::uint32_t code = handle == driver::invalidHandleValue ? driver_->getLastError() : 0;
    life_->device.open(handle);
    if (handle == driver::invalidHandleValue) reportError(CE_OpenFailed + 1, code);
}

void TCustomComPort::destroyDeviceHandle() {
    // Calls on other threads that hold the device finish first, and later ones find it closed:
    // its number may name another device once it is closed.
    const driver::Handle handle = life_->device.shut([this](driver::Handle device) {
        driver_->purgeComm(device, driver::purge::txAbort | driver::purge::rxAbort);
    });
    if (handle == driver::invalidHandleValue) return;
    if (driver_->closeHandle(handle))
        life_->device.closed();
    else
        life_->device.keep();
}

void TCustomComPort::configurePort() {
    applyBufferSizes();
    applyLineSettings();
    applyTimeoutSettings();
}

void TCustomComPort::applyBufferSizes() {
    if (!mayApply()) return;
    bool done = false;
    {
        const DeviceUse use(life_->device);
        done = driver_->setupComm(use.handle(), static_cast<std::uint32_t>(buffer_->InputSize()),
                                  static_cast<std::uint32_t>(buffer_->OutputSize()));
    }
    if (!done) reportError(CE_SetupComFailed + 1, driver_->getLastError());
}

void TCustomComPort::applyLineSettings() {
    if (!mayApply()) return;
    bool done = false;
    {
        const DeviceUse use(life_->device);
        done = driver_->setCommState(use.handle(), deviceControlBlock());
    }
    if (!done) reportError(CE_SetStateFailed + 1, driver_->getLastError());
}

void TCustomComPort::applyTimeoutSettings() {
    if (!mayApply()) return;
    bool done = false;
    {
        const DeviceUse use(life_->device);
        done = driver_->setCommTimeouts(use.handle(), commTimeouts());
    }
    if (!done) reportError(CE_TimeoutsFailed + 1, driver_->getLastError());
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
