#pragma once

// The serial port component: one object stands for one communication port. It holds the port's
// settings, opens and closes the device, pushes settings into it, moves bytes and reads and drives
// the line signals; every failure goes through reportError.

#include "comport/ComErrors.h"
#include "comport/ComEvents.h"
#include "comport/ComRequest.h"
#include "comport/ComSettings.h"
#include "comport/ComTypes.h"
#include "comport/PortLife.h"
#include "comport/PortLink.h"
#include "comport/driver/ComDriver.h"
#include "framework/Component.h"
#include "framework/Thread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

namespace fw {
class TMessageWindow;
struct TMessage;
} // namespace fw

namespace comport {

class TIniStore;
class TRegistryStore;
class TComThread;

// The rate in bits per second of a TBaudRate (0 for brCustom, whose rate is CustomBaudRate).
std::uint32_t baudRateValue(TBaudRate rate);

// A class derived from the port that overrides any of its hooks (the fire and handle operations,
// the steps of opening and closing) must close the port in its own destructor, with
// closeBeforeDestruction(): the base destructor's close comes after the derived part is gone, so
// the derived close hooks would be skipped, and an event thread (smNone) could meanwhile call a
// derived hook on freed members. A port still open when a base destructor is reached, having been
// opened as a more derived class, is reported through the application's error display.
class TCustomComPort : public fw::TComponent {
public:
    explicit TCustomComPort(fw::TComponent* owner = nullptr);
    // With a chosen device layer (tests pass a fake); the other constructor takes the platform's.
    TCustomComPort(fw::TComponent* owner, std::shared_ptr<driver::ComDriver> driver);
    // Closes the port if it is open, after any open or close under way on another thread, and
    // returns once no open, close or line-event handler runs on another thread any more. Never
    // throws: a failing close step is handed to OnException when assigned and otherwise dropped,
    // and the device is released all the same.
    ~TCustomComPort() override;

    std::string className() const override { return "TCustomComPort"; }
    void finishLoading() override;

    // --- settings --------------------------------------------------------------------------
    bool Connected() const { return connected_; }
    void setConnected(bool value);
    TBaudRate BaudRate() const { return baudRate_; }
    void setBaudRate(TBaudRate value);
    std::int32_t CustomBaudRate() const { return customBaudRate_; }
    void setCustomBaudRate(std::int32_t value);
    const std::string& Port() const { return port_; }
    void setPort(const std::string& value);
    TStopBits StopBits() const { return stopBits_; }
    void setStopBits(TStopBits value);
    TDataBits DataBits() const { return dataBits_; }
    void setDataBits(TDataBits value);
    bool DiscardNull() const { return discardNull_; }
    void setDiscardNull(bool value);
    char EventChar() const { return eventChar_; }
    void setEventChar(char value);
    TComEvents Events() const { return events_; }
    void setEvents(TComEvents value) { events_ = value; }
    TSyncMethod SyncMethod() const { return syncMethod_; }
    void setSyncMethod(TSyncMethod value);
    TStoredProps StoredProps() const { return storedProps_; }
    void setStoredProps(TStoredProps value) { storedProps_ = value; }
    // True only when the stored value is true and no linked object takes the received bytes.
    bool TriggersOnRxChar() const { return triggersOnRxChar_ && !rxBufLinked_; }
    void setTriggersOnRxChar(bool value);
    std::uint32_t CodePage() const { return codePage_; }
    void setCodePage(std::uint32_t value) { codePage_ = value; }

    TComParity& Parity() { return *parity_; }
    const TComParity& Parity() const { return *parity_; }
    void setParity(const TComParity& value);
    TComFlowControl& FlowControl() { return *flowControl_; }
    const TComFlowControl& FlowControl() const { return *flowControl_; }
    void setFlowControl(const TComFlowControl& value);
    TComTimeouts& Timeouts() { return *timeouts_; }
    const TComTimeouts& Timeouts() const { return *timeouts_; }
    void setTimeouts(const TComTimeouts& value);
    TComBuffer& Buffer() { return *buffer_; }
    const TComBuffer& Buffer() const { return *buffer_; }
    void setBuffer(const TComBuffer& value);

    // --- event slots -----------------------------------------------------------------------
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    fw::TNotifyEvent OnTxEmpty;
    fw::TNotifyEvent OnBreak;
    fw::TNotifyEvent OnRing;
    TComSignalEvent OnCTSChange;
    TComSignalEvent OnDSRChange;
    TComSignalEvent OnRLSDChange;
    TComErrorEvent OnError;
    fw::TNotifyEvent OnRxFlag;
    fw::TNotifyEvent OnAfterOpen;
    fw::TNotifyEvent OnAfterClose;
    fw::TNotifyEvent OnBeforeOpen;
    fw::TNotifyEvent OnBeforeClose;
    fw::TNotifyEvent OnRx80Full;
    TComExceptionEvent OnException;

    // --- settings storage ------------------------------------------------------------------
    virtual void writeSettingsToRegistry(TRegistryStore& store);
    virtual void writeSettingsToIni(TIniStore& store);
    virtual void readSettingsFromRegistry(TRegistryStore& store);
    virtual void readSettingsFromIni(TIniStore& store);

    // --- lifecycle -------------------------------------------------------------------------
    // Opening and closing take turns between threads: a call made while another thread opens or
    // closes the port waits for it, serving as the framework's waits do, and then does its own
    // part. openPort returns with the port open (or raises). It fails, without waiting, with
    // error 1 and driver::errorBusy where a close under way waits for the line-event handler it
    // is called from, from a close's notifications before the device is closed, and while the
    // port is being destroyed.
    void openPort();
    // Returns with the port closed. Called from a line-event handler that a close under way waits
    // for, or from that close's own notifications, it returns at once: that close closes the port
    // once the handler has returned, and drops the rest of its events. On the thread that handles
    // the line events (smThreadSync: the main thread; smWindowSync: the opening one) the close
    // first runs the handlers of events already announced; on any other thread it drops them.
    void closePort();
    virtual void createDeviceHandle();
    virtual void destroyDeviceHandle();
    virtual void configurePort();
    // Each pushes one group of settings into the open device; does nothing while the port is
    // closed, loading or designing.
    virtual void applyLineSettings();
    virtual void applyTimeoutSettings();
    virtual void applyBufferSizes();

    // The records the apply operations hand to the device, built from the settings.
    driver::Dcb deviceControlBlock() const;
    driver::CommTimeouts commTimeouts() const;

    // Reports a failure: to OnException when assigned (and returns), otherwise raises EComPort,
    // with the platform code attached when systemError is above 0.
    void reportError(std::uint16_t number, std::int64_t systemError = 0);

    // --- reading and writing ---------------------------------------------------------------
    std::unique_ptr<TComRequest> createRequest();
    void releaseRequest(std::unique_ptr<TComRequest>& request);

    std::int32_t writeBytesAsync(const std::uint8_t* bytes, std::int32_t count,
                                 TComRequest* request);
    std::int32_t writeTextAsync(const std::string& text, TComRequest* request);
    std::int32_t readBytesAsync(std::uint8_t* buffer, std::int32_t count, TComRequest* request);
    std::int32_t waitForCompletion(TComRequest* request);
    std::int32_t writeBytes(const std::uint8_t* bytes, std::int32_t count);
    std::int32_t writeText(const std::string& text);
    std::int32_t readBytes(std::uint8_t* buffer, std::int32_t count);
    void abortAllRequests();

    // When the newest byte of the latest read that got any reached the port, on the device
    // layer's monotonic clock (the steady clock): the moment the port first found it waiting,
    // as the event thread woke for it, a bytesWaiting() query or the read itself saw it. Never
    // before the byte came, and not delayed by the hand-over of OnRxChar to its handler, so a
    // handler can tell what came before what it wrote (on Windows the event thread does not ask,
    // so there the mark comes from the query or the read). Nothing before the first such read.
    std::optional<std::chrono::steady_clock::time_point> lastReadArrival() const;

    // --- line state ------------------------------------------------------------------------
    std::int32_t bytesWaiting();
    TLineSignals modemSignals();
    void setDtrLine(bool on);
    void setRtsLine(bool on);
    TComErrors lineErrors();

    // --- links -----------------------------------------------------------------------------
    // The objects told about the port's activity; the port does not own them. The list must not
    // change while a notification walks it.
    std::vector<TPortLink*>& linkList() { return linkList_; }
    // Attaches a link (at the end) or detaches it. Error 18 for no link, a link attached twice,
    // one that is not attached, or a change from inside a notification. A link whose
    // dataReceived is set takes the received bytes: while one is attached TriggersOnRxChar
    // reads false and the port reads the bytes for its readers.
    void registerLink(TPortLink* link);
    void unregisterLink(TPortLink* link);
    void notifyLinksState(TLinkNotice kind, bool onOff);
    void notifyLinks(TLinkNotice kind);
    void notifyLinksSent(const std::uint8_t* buffer, std::int32_t count);

    // --- device ----------------------------------------------------------------------------
    // The open device, invalidHandleValue while the port is closed (or closing).
    driver::Handle portHandle() const { return life_->device.current(); }
    driver::ComDriver& device() const { return *driver_; }

protected:
    // Open and close notifications, in the order openPort and closePort call them.
    virtual void handleBeforeOpen();
    virtual void handleAfterOpen();
    virtual void handleBeforeClose();
    virtual void handleAfterClose();
    // Reports the input lines: when opening, CTS, DSR and RLSD as read now; when closing, all
    // three as off (to the links first, then to the events).
    void reportLineSignals(bool opening);

    // Line event handling, on the thread the delivery method chose. Each gathers what it reports
    // (count, lines, errors) when it runs.
    void handleError();
    void handleRxChar();
    void handleTxEmpty();
    void handleBreak();
    void handleRing();
    void handleCTSChange();
    void handleDSRChange();
    void handleRxFlag();
    void handleRLSDChange();
    void handleRx80Full();
    // The handler for one event mask bit; other values do nothing.
    void handleLineEvent(std::uintptr_t maskBit);

    // The hidden window's procedure (smWindowSync): answers a line-event message at once, then
    // handles the event while the port is open; a failure is shown by the application's error
    // display.
    void handleNotifyMessage(fw::TMessage& message);
    // The hidden window's handle (an fw::TWindowHandle), 0 while there is none.
    std::uintptr_t notifyWindowHandle() const;

    // Event hooks: each fires its slot with the port as sender when the slot is assigned.
    virtual void fireAfterClose();
    virtual void fireAfterOpen();
    virtual void fireBeforeClose();
    virtual void fireBeforeOpen();
    virtual void fireRxChar(std::int32_t count);
    virtual void fireRxBuf(const std::uint8_t* buffer, std::int32_t count);
    virtual void fireTxEmpty();
    virtual void fireBreak();
    virtual void fireRing();
    virtual void fireRxFlag();
    virtual void fireCTSChange(bool onOff);
    virtual void fireDSRChange(bool onOff);
    virtual void fireError(TComErrors errors);
    virtual void fireRLSDChange(bool onOff);
    virtual void fireRx80Full();

    bool rxBufLinked() const { return rxBufLinked_; }
    void setRxBufLinked(bool on) { rxBufLinked_ = on; }

    // For the destructor of a derived class: closes the port while the derived part is still
    // there (see the class comment). Never throws, like the destructor's own close.
    void closeBeforeDestruction() noexcept;

    bool mayApply() const { return connected_ && !loading() && !designing(); }
    // Whether the line events still to be handled should go out: not once a handler has asked
    // for a close while the port was already closing.
    bool deliveringEvents() const { return !life_->closeAsked.load(); }

private:
    friend class TComThread;

    // Starting and stopping what delivers line events (the event thread and, for smWindowSync,
    // the hidden window). openPort calls startEventDelivery after the device is configured and
    // before handleAfterOpen, and beginEventDelivery at its very end: nothing is handed over
    // before. closePort calls stopEventDelivery after aborting the outstanding requests and
    // before closing the device.
    void startEventDelivery();
    void beginEventDelivery();
    void stopEventDelivery();

    // Received bytes for OnRxBuf and the linked readers (TriggersOnRxChar false): reads them and
    // hands them out; sets count to 0 when it read them, also when a reader fails.
    void deliverReceivedData(std::int32_t& count);
    // The record of the synchronous operations, kept from one call to the next: most of them
    // end at once, and a record (with its completion event) made and freed for each byte
    // written would cost more than the write. A caller that finds it taken makes its own.
    std::unique_ptr<TComRequest> takeSyncRequest();
    void keepSyncRequest(std::unique_ptr<TComRequest> request);
    // Checks a write's arguments and starts it (false, nothing started, when they are refused).
    // With keepCopy the device writes from the request's own copy of the bytes; without, from
    // `bytes`, which must then stay valid until the request has ended.
    bool startWrite(const std::uint8_t* bytes, std::int32_t count, TComRequest& request,
                    bool keepCopy, std::int32_t& written);
    // setDtrLine and setRtsLine: one escape function.
    void escape(std::uint32_t function);
    // handleCTSChange and its two siblings: reads the line, tells the links, fires the event.
    void reportLine(TLineSignal line, TLinkNotice notice, void (TCustomComPort::*fire)(bool));
    // Reads count bytes into a new buffer and fires OnRxBuf; gives the number read.
    std::int32_t readForRxBuf(std::unique_ptr<std::uint8_t[]>& buffer, std::int32_t count);
    // Runs a handling step; a failure is shown by the application's error display. Static: the
    // step may close or even destroy the port.
    static void runShowingFailure(const std::function<void()>& step) noexcept;

    // The destructor's close: every step runs even when an earlier one fails. An open or close
    // that another thread runs is waited for first, and the calls and handlers still running on
    // other threads after it.
    void closeForDestruction() noexcept;

    std::shared_ptr<driver::ComDriver> driver_;
    // The class the port was last opened as, for closeBeforeDestruction's check.
    const std::type_info* openedAs_ = nullptr;
    std::string openedAsName_;

    // Set while the port delivers line events.
    fw::TThread::Ptr<TComThread> eventThread_;
    std::unique_ptr<fw::TMessageWindow> notifyWindow_;
    fw::TThreadPriority threadPriority_ = fw::tpNormal;
    // Outlives the port: link notifications and the close under way, and whether the port is
    // still there for the code that called a handler that may have destroyed it.
    const std::shared_ptr<PortLife> life_ = std::make_shared<PortLife>();
    std::vector<TPortLink*> linkList_;
    bool triggersOnRxChar_ = true;
    std::atomic<TComRequest*> spareRequest_{nullptr};
    bool rxBufLinked_ = false;
    // Read by the hidden window's procedure (and by handlers) while another thread may close.
    std::atomic<bool> connected_{false};
    TBaudRate baudRate_ = br9600;
    std::int32_t customBaudRate_ = 9600;
    std::string port_ = "COM1";
    TStopBits stopBits_ = sbOneStopBit;
    TDataBits dataBits_ = dbEight;
    bool discardNull_ = false;
    char eventChar_ = 0;
    TComEvents events_ = allComEvents;
    std::unique_ptr<TComBuffer> buffer_;
    std::unique_ptr<TComParity> parity_;
    std::unique_ptr<TComTimeouts> timeouts_;
    std::unique_ptr<TComFlowControl> flowControl_;
    TSyncMethod syncMethod_ = smThreadSync;
    TStoredProps storedProps_{spBasic};
    std::uint32_t codePage_ = 0;
};

} // namespace comport
