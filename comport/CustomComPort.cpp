#include "comport/CustomComPort.h"

#include "comport/ComThread.h"

namespace comport {

std::uint32_t baudRateValue(TBaudRate rate) {
    static constexpr std::uint32_t rates[] = {0,     110,    300,    600,   1200,  2400,
                                              4800,  9600,   14400,  19200, 38400, 56000,
                                              57600, 115200, 128000, 256000};
    return rate < std::size(rates) ? rates[rate] : 0;
}

TCustomComPort::TCustomComPort(fw::TComponent* owner)
    : TCustomComPort(owner, driver::platformDriver()) {}

TCustomComPort::TCustomComPort(fw::TComponent* owner, std::shared_ptr<driver::ComDriver> driver)
    : fw::TComponent(owner), driver_(std::move(driver)) {
    parity_ = std::make_unique<TComParity>(this);
    flowControl_ = std::make_unique<TComFlowControl>(this);
    timeouts_ = std::make_unique<TComTimeouts>(this);
    buffer_ = std::make_unique<TComBuffer>(this);
}

TCustomComPort::~TCustomComPort() {
    closeBeforeDestruction();
    delete spareRequest_.exchange(nullptr);
    // Whatever called the handler that destroyed the port stops at its next look.
    life_->alive = false;
}

// --- property writers ----------------------------------------------------------------------

void TCustomComPort::setConnected(bool value) {
    if (loading() || designing()) {
        connected_ = value;
        return;
    }
    if (value == connected_) return;
    if (value)
        openPort();
    else
        closePort();
}

namespace {
template <typename T> bool store(T& field, T value) {
    if (field == value) return false;
    field = value;
    return true;
}
} // namespace

void TCustomComPort::setBaudRate(TBaudRate value) {
    if (store(baudRate_, value)) applyLineSettings();
}
void TCustomComPort::setCustomBaudRate(std::int32_t value) {
    if (store(customBaudRate_, value)) applyLineSettings();
}
void TCustomComPort::setStopBits(TStopBits value) {
    if (store(stopBits_, value)) applyLineSettings();
}
void TCustomComPort::setDataBits(TDataBits value) {
    if (store(dataBits_, value)) applyLineSettings();
}
void TCustomComPort::setDiscardNull(bool value) {
    if (store(discardNull_, value)) applyLineSettings();
}
void TCustomComPort::setEventChar(char value) {
    if (store(eventChar_, value)) applyLineSettings();
}

void TCustomComPort::setPort(const std::string& value) {
    if (!store(port_, value)) return;
    if (mayApply()) {
        closePort();
        openPort();
    }
}

void TCustomComPort::setSyncMethod(TSyncMethod value) {
    if (value == syncMethod_) return;
    if (mayApply()) {
        reportError(CE_ConnChangeProp + 1);
        return;
    }
    syncMethod_ = value;
}

void TCustomComPort::setTriggersOnRxChar(bool value) {
    if (rxBufLinked_) reportError(CE_HasLink + 1);
    triggersOnRxChar_ = value;
}

void TCustomComPort::setParity(const TComParity& value) {
    parity_->assign(&value);
    applyLineSettings();
}
void TCustomComPort::setFlowControl(const TComFlowControl& value) {
    flowControl_->assign(&value);
    applyLineSettings();
}
void TCustomComPort::setTimeouts(const TComTimeouts& value) {
    timeouts_->assign(&value);
    applyTimeoutSettings();
}
void TCustomComPort::setBuffer(const TComBuffer& value) {
    buffer_->assign(&value);
    applyBufferSizes();
}

// --- device records ------------------------------------------------------------------------

driver::Dcb TCustomComPort::deviceControlBlock() const {
    driver::Dcb dcb;
    dcb.BaudRate = baudRate_ == brCustom ? static_cast<std::uint32_t>(customBaudRate_)
                                         : baudRateValue(baudRate_);
    const auto limit = static_cast<std::uint16_t>(buffer_->InputSize() / 4);
    dcb.XonLim = limit;
    dcb.XoffLim = limit;
    dcb.ByteSize = static_cast<std::uint8_t>(5 + dataBits_);
    dcb.Parity = static_cast<std::uint8_t>(parity_->Bits());
    dcb.StopBits = static_cast<std::uint8_t>(stopBits_);
    dcb.XonChar = flowControl_->XonChar();
    dcb.XoffChar = flowControl_->XoffChar();
    const bool replace = parity_->Check() && parity_->Replace();
    dcb.ErrorChar = replace ? parity_->ReplaceChar() : 0;
    dcb.EofChar = 0;
    dcb.EvtChar = eventChar_;

    dcb.fBinary = true;
    dcb.fParity = parity_->Check();
    dcb.fOutxCtsFlow = flowControl_->OutCTSFlow();
    dcb.fOutxDsrFlow = flowControl_->OutDSRFlow();
    dcb.fDtrControl = static_cast<std::uint8_t>(flowControl_->ControlDTR());
    dcb.fDsrSensitivity = flowControl_->DSRSensitivity();
    dcb.fTXContinueOnXoff = flowControl_->TxContinueOnXoff();
    dcb.fOutX = flowControl_->XonXoffOut();
    dcb.fInX = flowControl_->XonXoffIn();
    dcb.fErrorChar = replace;
    dcb.fNull = discardNull_;
    dcb.fRtsControl = static_cast<std::uint8_t>(flowControl_->ControlRTS());
    dcb.fAbortOnError = false;
    return dcb;
}

driver::CommTimeouts TCustomComPort::commTimeouts() const {
    driver::CommTimeouts t;
    t.ReadIntervalTimeout = static_cast<std::uint32_t>(timeouts_->ReadInterval());
    t.ReadTotalTimeoutMultiplier = static_cast<std::uint32_t>(timeouts_->ReadTotalMultiplier());
    t.ReadTotalTimeoutConstant = static_cast<std::uint32_t>(timeouts_->ReadTotalConstant());
    t.WriteTotalTimeoutMultiplier = static_cast<std::uint32_t>(timeouts_->WriteTotalMultiplier());
    t.WriteTotalTimeoutConstant = static_cast<std::uint32_t>(timeouts_->WriteTotalConstant());
    return t;
}

} // namespace comport
