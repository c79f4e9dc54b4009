#include "comport/ComSettings.h"

#include "comport/CustomComPort.h"

namespace comport {

namespace {

template <typename T> bool store(T& field, T value) {
    if (field == value) return false;
    field = value;
    return true;
}

void applyLines(TCustomComPort* port) {
    if (port) port->applyLineSettings();
}

} // namespace

// --- TComParity ----------------------------------------------------------------------------

void TComParity::assign(const fw::TPersistent* source) {
    auto* from = dynamic_cast<const TComParity*>(source);
    if (!from) assignError(source);
    bits_ = from->bits_;
    check_ = from->check_;
    replace_ = from->replace_;
    replaceChar_ = from->replaceChar_;
}

void TComParity::apply() {
    applyLines(ownerPort_);
}
void TComParity::setBits(TParityBits value) {
    if (store(bits_, value)) apply();
}
void TComParity::setCheck(bool value) {
    if (store(check_, value)) apply();
}
void TComParity::setReplace(bool value) {
    if (store(replace_, value)) apply();
}
void TComParity::setReplaceChar(char value) {
    if (store(replaceChar_, value)) apply();
}

// --- TComFlowControl -----------------------------------------------------------------------

void TComFlowControl::assign(const fw::TPersistent* source) {
    auto* from = dynamic_cast<const TComFlowControl*>(source);
    if (!from) assignError(source);
    outCtsFlow_ = from->outCtsFlow_;
    outDsrFlow_ = from->outDsrFlow_;
    controlDtr_ = from->controlDtr_;
    controlRts_ = from->controlRts_;
    xonXoffOut_ = from->xonXoffOut_;
    xonXoffIn_ = from->xonXoffIn_;
    dsrSensitivity_ = from->dsrSensitivity_;
    txContinueOnXoff_ = from->txContinueOnXoff_;
    xonChar_ = from->xonChar_;
    xoffChar_ = from->xoffChar_;
}

void TComFlowControl::apply() {
    applyLines(ownerPort_);
}

TFlowControl TComFlowControl::FlowControl() const {
    if (controlRts_ == rtsHandshake && outCtsFlow_ && !xonXoffIn_ && !xonXoffOut_)
        return fcHardware;
    if (controlRts_ == rtsDisable && !outCtsFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
    if (controlRts_ == rtsDisable && !outCtsFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcNone;
    return fcCustom;
}

void TComFlowControl::setFlowControl(TFlowControl value) {
    if (value != fcCustom) {
        controlRts_ = rtsDisable;
        outCtsFlow_ = false;
        xonXoffIn_ = false;
        xonXoffOut_ = false;
        if (value == fcHardware) {
            controlRts_ = rtsHandshake;
            outCtsFlow_ = true;
        } else if (value == fcSoftware) {
            xonXoffIn_ = true;
            xonXoffOut_ = true;
        }
    }
    apply();
}

void TComFlowControl::setOutCTSFlow(bool value) {
    change(outCtsFlow_, value);
}
void TComFlowControl::setOutDSRFlow(bool value) {
    change(outDsrFlow_, value);
}
void TComFlowControl::setControlDTR(TDTRFlowControl value) {
    change(controlDtr_, value);
}
void TComFlowControl::setControlRTS(TRTSFlowControl value) {
    change(controlRts_, value);
}
void TComFlowControl::setXonXoffOut(bool value) {
    change(xonXoffOut_, value);
}
void TComFlowControl::setXonXoffIn(bool value) {
    change(xonXoffIn_, value);
}
void TComFlowControl::setDSRSensitivity(bool value) {
    change(dsrSensitivity_, value);
}
void TComFlowControl::setTxContinueOnXoff(bool value) {
    change(txContinueOnXoff_, value);
}
void TComFlowControl::setXonChar(char value) {
    change(xonChar_, value);
}
void TComFlowControl::setXoffChar(char value) {
    change(xoffChar_, value);
}

// --- TComTimeouts --------------------------------------------------------------------------

void TComTimeouts::assign(const fw::TPersistent* source) {
    auto* from = dynamic_cast<const TComTimeouts*>(source);
    if (!from) assignError(source);
    readInterval_ = from->readInterval_;
    readTotalMultiplier_ = from->readTotalMultiplier_;
    readTotalConstant_ = from->readTotalConstant_;
    writeTotalMultiplier_ = from->writeTotalMultiplier_;
    writeTotalConstant_ = from->writeTotalConstant_;
}

void TComTimeouts::change(std::int32_t& field, std::int32_t value) {
    if (!store(field, value)) return;
    if (ownerPort_) ownerPort_->applyTimeoutSettings();
}

void TComTimeouts::setReadInterval(std::int32_t value) {
    change(readInterval_, value);
}
void TComTimeouts::setReadTotalMultiplier(std::int32_t value) {
    change(readTotalMultiplier_, value);
}
void TComTimeouts::setReadTotalConstant(std::int32_t value) {
    change(readTotalConstant_, value);
}
void TComTimeouts::setWriteTotalMultiplier(std::int32_t value) {
    change(writeTotalMultiplier_, value);
}
void TComTimeouts::setWriteTotalConstant(std::int32_t value) {
    change(writeTotalConstant_, value);
}

// --- TComBuffer ----------------------------------------------------------------------------

void TComBuffer::assign(const fw::TPersistent* source) {
    auto* from = dynamic_cast<const TComBuffer*>(source);
    if (!from) assignError(source);
    inputSize_ = from->inputSize_;
    outputSize_ = from->outputSize_;
}

void TComBuffer::change(std::int32_t& field, std::int32_t value) {
    // The written value decides whether anything happens; an odd positive one is kept even.
    if (field == value) return;
    field = (value > 0 && value % 2 == 1) ? value - 1 : value;
    if (ownerPort_) ownerPort_->applyBufferSizes();
}

void TComBuffer::setInputSize(std::int32_t value) {
    change(inputSize_, value);
}
void TComBuffer::setOutputSize(std::int32_t value) {
    change(outputSize_, value);
}

} // namespace comport
