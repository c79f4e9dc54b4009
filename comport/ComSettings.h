#pragma once

// The four settings objects a port owns. Each refers back to its port (ownerPort, null for a
// free-standing object) and pushes every change of its own properties to the open device through
// it; copying settings with assign applies nothing by itself.

#include "comport/ComTypes.h"
#include "framework/Persistent.h"

#include <cstdint>

namespace comport {

class TCustomComPort;

class TComParity : public fw::TPersistent {
public:
    explicit TComParity(TCustomComPort* owner = nullptr) : ownerPort_(owner) {}
    std::string className() const override { return "TComParity"; }
    void assign(const fw::TPersistent* source) override;
    TCustomComPort* ownerPort() const { return ownerPort_; }

    TParityBits Bits() const { return bits_; }
    void setBits(TParityBits value);
    bool Check() const { return check_; }
    void setCheck(bool value);
    bool Replace() const { return replace_; }
    void setReplace(bool value);
    char ReplaceChar() const { return replaceChar_; }
    void setReplaceChar(char value);

private:
    void apply();

    TCustomComPort* ownerPort_;
    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    char replaceChar_ = 0;
};

class TComFlowControl : public fw::TPersistent {
public:
    explicit TComFlowControl(TCustomComPort* owner = nullptr) : ownerPort_(owner) {}
    std::string className() const override { return "TComFlowControl"; }
    void assign(const fw::TPersistent* source) override;
    TCustomComPort* ownerPort() const { return ownerPort_; }

    // Summary of ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut; writing it sets those four
    // (fcCustom leaves them) and always applies.
    TFlowControl FlowControl() const;
    void setFlowControl(TFlowControl value);

    bool OutCTSFlow() const { return outCtsFlow_; }
    void setOutCTSFlow(bool value);
    bool OutDSRFlow() const { return outDsrFlow_; }
    void setOutDSRFlow(bool value);
    TDTRFlowControl ControlDTR() const { return controlDtr_; }
    void setControlDTR(TDTRFlowControl value);
    TRTSFlowControl ControlRTS() const { return controlRts_; }
    void setControlRTS(TRTSFlowControl value);
    bool XonXoffOut() const { return xonXoffOut_; }
    void setXonXoffOut(bool value);
    bool XonXoffIn() const { return xonXoffIn_; }
    void setXonXoffIn(bool value);
    bool DSRSensitivity() const { return dsrSensitivity_; }
    void setDSRSensitivity(bool value);
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    void setTxContinueOnXoff(bool value);
    char XonChar() const { return xonChar_; }
    void setXonChar(char value);
    char XoffChar() const { return xoffChar_; }
    void setXoffChar(char value);

private:
    void apply();
    template <typename T> void change(T& field, T value) {
        if (field == value) return;
        field = value;
        apply();
    }

    TCustomComPort* ownerPort_;
    bool outCtsFlow_ = false;
    bool outDsrFlow_ = false;
    TDTRFlowControl controlDtr_ = dtrDisable;
    TRTSFlowControl controlRts_ = rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    char xonChar_ = 17;
    char xoffChar_ = 19;
};

class TComTimeouts : public fw::TPersistent {
public:
    explicit TComTimeouts(TCustomComPort* owner = nullptr) : ownerPort_(owner) {}
    std::string className() const override { return "TComTimeouts"; }
    void assign(const fw::TPersistent* source) override;
    TCustomComPort* ownerPort() const { return ownerPort_; }

    std::int32_t ReadInterval() const { return readInterval_; }
    void setReadInterval(std::int32_t value);
    std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
    void setReadTotalMultiplier(std::int32_t value);
    std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
    void setReadTotalConstant(std::int32_t value);
    std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    void setWriteTotalMultiplier(std::int32_t value);
    std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
    void setWriteTotalConstant(std::int32_t value);

private:
    void change(std::int32_t& field, std::int32_t value);

    TCustomComPort* ownerPort_;
    std::int32_t readInterval_ = -1;
    std::int32_t readTotalMultiplier_ = 0;
    std::int32_t readTotalConstant_ = 0;
    std::int32_t writeTotalMultiplier_ = 100;
    std::int32_t writeTotalConstant_ = 1000;
};

class TComBuffer : public fw::TPersistent {
public:
    explicit TComBuffer(TCustomComPort* owner = nullptr) : ownerPort_(owner) {}
    std::string className() const override { return "TComBuffer"; }
    void assign(const fw::TPersistent* source) override;
    TCustomComPort* ownerPort() const { return ownerPort_; }

    // Odd positive sizes are stored one lower.
    std::int32_t InputSize() const { return inputSize_; }
    void setInputSize(std::int32_t value);
    std::int32_t OutputSize() const { return outputSize_; }
    void setOutputSize(std::int32_t value);

private:
    void change(std::int32_t& field, std::int32_t value);

    TCustomComPort* ownerPort_;
    std::int32_t inputSize_ = 1024;
    std::int32_t outputSize_ = 1024;
};

} // namespace comport
