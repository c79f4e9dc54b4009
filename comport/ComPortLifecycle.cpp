// Opening, closing, applying settings and reporting failures.

#include "comport/CustomComPort.h"
#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"
#include "framework/MainThread.h"
#include "framework/MessageWindow.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <typeinfo>

namespace comport {

namespace {

// Serves for a short while what the calling thread serves in the framework's waits, while it
// waits for its turn: the thread under way may hand work to it.
void serveAWhile() {
    using namespace std::chrono_literals;
    if (fw::isMainThread())
        fw::waitForSynchronize(10ms);
    else
        fw::waitForSentMessages(10ms);
}

// One open or close taking its turn (PortLife): it waits while another thread opens or closes,
// except where that thread waits for this one.
class Turn {
public:
    enum Outcome {
        mine,    // this call opens or closes; the turn ends with it
        nested,  // called from the notifications of an open or close under way on this thread
        refused, // a close under way waits for the hand-over this thread runs
        gone,    // the port was destroyed meanwhile
    };

    Turn(std::shared_ptr<PortLife> life, bool closing) : life_(std::move(life)) {
        const std::thread::id me = std::this_thread::get_id();
        for (;;) {
            {
                std::lock_guard g(life_->turnLock);
                if (!life_->alive) {
                    outcome_ = gone;
                    return;
                }
                if (life_->holder == std::thread::id{}) {
                    life_->holder = me;
                    life_->holderCloses = closing;
                    life_->closeAsked = false;
                    outcome_ = mine;
                    return;
                }
                holder_ = life_->holder;
                holderCloses_ = life_->holderCloses;
                if (holderCloses_ && life_->handOverOn.load() == me) {
                    outcome_ = refused;
                    return;
                }
                if (holder_ == me) {
                    outcome_ = nested;
                    return;
                }
            }
            serveAWhile();
        }
    }
    ~Turn() {
        if (outcome_ != mine) return;
        std::lock_guard g(life_->turnLock);
        life_->holder = std::thread::id{};
        life_->closeAsked = false;
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

    Outcome outcome() const { return outcome_; }
    // Whether the open or close under way (nested, refused) is a close.
    bool closeUnderWay() const { return holderCloses_; }
    std::thread::id holder() const { return holder_; }

private:
    std::shared_ptr<PortLife> life_;
    Outcome outcome_ = gone;
    std::thread::id holder_;
    bool holderCloses_ = false;
};

} // namespace

void TCustomComPort::openPort() {
    const std::shared_ptr<PortLife> life = life_;
    const PortCall call(life);
    if (!call.entered() || designing()) return;
    const Turn turn(life, false);
    if (turn.outcome() == Turn::gone) return;
    // Where the open cannot wait for the close under way, or would be undone by it, or the port is
    // being destroyed, it fails rather than return as if it had opened the port.
    const bool closing = turn.outcome() == Turn::refused ||
                         (turn.outcome() == Turn::nested && turn.closeUnderWay() && connected_);
    if (closing || life->dying) {
        reportError(CE_OpenFailed + 1, driver::errorBusy);
        return;
    }
    if (connected_) return;
    openedAs_ = &typeid(*this);
    openedAsName_ = className();
    handleBeforeOpen();
    if (!life->alive) return; // destroyed by its handler
    if (connected_) return;   // opened by its handler
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

void TCustomComPort::closePort() {
    const std::shared_ptr<PortLife> life = life_;
    const PortCall call(life);
    if (!call.entered() || designing()) return;
    const Turn turn(life, true);
    switch (turn.outcome()) {
    case Turn::gone:
        return;
    case Turn::refused:
        // The close under way closes the port once this thread's handlers have returned; the rest
        // of their hand-over is dropped.
        life->closeAsked = true;
        return;
    case Turn::nested:
        // Asked for again from the notifications of this thread's own close, which closes the
        // port. A close asked for from those of an open goes ahead.
        if (turn.closeUnderWay()) {
            life->closeAsked = true;
            return;
        }
        break;
    case Turn::mine:
        break;
    }
    if (!connected_) return;
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
    life->dying = true; // from now on every open fails
    // An open or close under way on another thread ends first. One under way on this thread (the
    // port destroyed by one of its handlers) cannot be waited for: the steps run here, and that
    // call stops when it finds the port gone; so does a close on another thread that waits for the
    // hand-over running here.
    std::optional<Turn> turn;
    try {
        turn.emplace(life, true);
    } catch (...) {
        // Only the waits' serving can fail, on a thread that may not serve; nothing is under way
        // that this close could wait for then.
    }
    if (turn && turn->outcome() == Turn::gone) return; // closed and released already
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
    const std::thread::id waitingForThis =
        turn && turn->outcome() == Turn::refused ? turn->holder() : std::thread::id{};
    turn.reset();
    // The port's memory goes only once no other thread is inside a call on it: a handler still
    // running (its open now fails), a call waiting for its turn. A close that waits for the
    // hand-over running here finds the port gone when it goes on.
    const std::thread::id me = std::this_thread::get_id();
    for (;;) {
        {
            std::lock_guard g(life->turnLock);
            if (std::ranges::all_of(life->inside, [&](std::thread::id t) {
                    return t == me || t == waitingForThis;
                })) {
                life->alive = false;
                return;
            }
        }
        step([] { serveAWhile(); });
    }
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
