// Writing the port's settings to a settings store and reading them back, group by group as
// StoredProps selects. The rows, their order and their text forms are fixed: files written by one
// version must read the same in every other.

#include "comport/CustomComPort.h"
#include "comport/settings/SettingsStores.h"
#include "comport/settings/SettingsText.h"

#include <array>
#include <string>
#include <string_view>

namespace comport {

namespace {

// The two kinds of store seen alike: an ini store's section of the port, or the registry key.
// Reading from an ini store passes a default for absent keys; a registry store takes none.
class SettingsTarget {
public:
    virtual ~SettingsTarget() = default;
    virtual std::string getText(const char* key, std::string_view iniDefault) = 0;
    virtual void putText(const char* key, std::string_view text) = 0;
    virtual std::int32_t getInteger(const char* key, std::int32_t iniDefault) = 0;
    virtual void putInteger(const char* key, std::int32_t value) = 0;
};

class IniTarget final : public SettingsTarget {
public:
    IniTarget(TIniStore& store, std::string section)
        : store_(store), section_(std::move(section)) {}
    std::string getText(const char* key, std::string_view iniDefault) override {
        return store_.getText(section_, key, iniDefault);
    }
    void putText(const char* key, std::string_view text) override {
        store_.putText(section_, key, text);
    }
    std::int32_t getInteger(const char* key, std::int32_t iniDefault) override {
        return store_.getInteger(section_, key, iniDefault);
    }
    void putInteger(const char* key, std::int32_t value) override {
        store_.putInteger(section_, key, value);
    }

private:
    TIniStore& store_;
    std::string section_;
};

class RegistryTarget final : public SettingsTarget {
public:
    explicit RegistryTarget(TRegistryStore& store) : store_(store) {}
    std::string getText(const char* key, std::string_view) override { return store_.getText(key); }
    void putText(const char* key, std::string_view text) override { store_.putText(key, text); }
    std::int32_t getInteger(const char* key, std::int32_t) override {
        return store_.getInteger(key);
    }
    void putInteger(const char* key, std::int32_t value) override { store_.putInteger(key, value); }

private:
    TRegistryStore& store_;
};

// One stored setting: a text row has text/setText, an integer row integer/setInteger.
struct Row {
    TStoredProp group;
    const char* key;
    std::string (*text)(const TCustomComPort&);
    void (*setText)(TCustomComPort&, std::string_view);
    std::int32_t (*integer)(const TCustomComPort&);
    void (*setInteger)(TCustomComPort&, std::int32_t);
};

using P = TCustomComPort;
using V = std::string_view;

// A text row over a setting with a text conversion.
#define TEXT_ROW(group, key, get, set, toText, fromText)                                           \
    Row {                                                                                          \
        group, key, [](const P& p) { return std::string(toText(p.get)); },                         \
            [](P& p, V t) { p.set(fromText(t)); }, nullptr, nullptr                                \
    }
#define INTEGER_ROW(group, key, get, set)                                                          \
    Row {                                                                                          \
        group, key, nullptr, nullptr, [](const P& p) { return std::int32_t{p.get}; },              \
            [](P& p, std::int32_t v) { p.set(v); }                                                 \
    }

constexpr const char* customBaudRateKey = "CustomBaudRate";

// Rows in the order they are written and read: the groups spBasic, spOthers, spParity, spBuffer,
// spTimeouts, spFlowControl, and each group's rows in its own order.
const std::array<Row, 29> rows{
    Row{spBasic, "Port", [](const P& p) { return p.Port(); },
        [](P& p, V t) { p.setPort(std::string(t)); }, nullptr, nullptr},
    TEXT_ROW(spBasic, "BaudRate", BaudRate(), setBaudRate, baudRateText, baudRateFromText),
    // Only while BaudRate is brCustom; see writeRows and readRows.
    INTEGER_ROW(spBasic, customBaudRateKey, CustomBaudRate(), setCustomBaudRate),
    TEXT_ROW(spBasic, "StopBits", StopBits(), setStopBits, stopBitsText, stopBitsFromText),
    TEXT_ROW(spBasic, "DataBits", DataBits(), setDataBits, dataBitsText, dataBitsFromText),
    TEXT_ROW(spBasic, "Parity", Parity().Bits(), Parity().setBits, parityText, parityFromText),
    // The combined value: "Custom" or a foreign text leaves the individual settings alone.
    TEXT_ROW(spBasic, "FlowControl", FlowControl().FlowControl(), FlowControl().setFlowControl,
             flowControlText, flowControlFromText),

    TEXT_ROW(spOthers, "EventChar", EventChar(), setEventChar, charText, charFromText),
    TEXT_ROW(spOthers, "DiscardNull", DiscardNull(), setDiscardNull, yesNoText, yesNoFromText),

    TEXT_ROW(spParity, "Parity.Check", Parity().Check(), Parity().setCheck, yesNoText,
             yesNoFromText),
    TEXT_ROW(spParity, "Parity.Replace", Parity().Replace(), Parity().setReplace, yesNoText,
             yesNoFromText),
    TEXT_ROW(spParity, "Parity.ReplaceChar", Parity().ReplaceChar(), Parity().setReplaceChar,
             charText, charFromText),

    INTEGER_ROW(spBuffer, "Buffer.OutputSize", Buffer().OutputSize(), Buffer().setOutputSize),
    INTEGER_ROW(spBuffer, "Buffer.InputSize", Buffer().InputSize(), Buffer().setInputSize),

    INTEGER_ROW(spTimeouts, "Timeouts.ReadInterval", Timeouts().ReadInterval(),
                Timeouts().setReadInterval),
    INTEGER_ROW(spTimeouts, "Timeouts.ReadTotalConstant", Timeouts().ReadTotalConstant(),
                Timeouts().setReadTotalConstant),
    INTEGER_ROW(spTimeouts, "Timeouts.ReadTotalMultiplier", Timeouts().ReadTotalMultiplier(),
                Timeouts().setReadTotalMultiplier),
    INTEGER_ROW(spTimeouts, "Timeouts.WriteTotalConstant", Timeouts().WriteTotalConstant(),
                Timeouts().setWriteTotalConstant),
    INTEGER_ROW(spTimeouts, "Timeouts.WriteTotalMultiplier", Timeouts().WriteTotalMultiplier(),
                Timeouts().setWriteTotalMultiplier),

    TEXT_ROW(spFlowControl, "FlowControl.ControlRTS", FlowControl().ControlRTS(),
             FlowControl().setControlRTS, rtsControlText, rtsControlFromText),
    TEXT_ROW(spFlowControl, "FlowControl.ControlDTR", FlowControl().ControlDTR(),
             FlowControl().setControlDTR, dtrControlText, dtrControlFromText),
    TEXT_ROW(spFlowControl, "FlowControl.DSRSensitivity", FlowControl().DSRSensitivity(),
             FlowControl().setDSRSensitivity, yesNoText, yesNoFromText),
    TEXT_ROW(spFlowControl, "FlowControl.OutCTSFlow", FlowControl().OutCTSFlow(),
             FlowControl().setOutCTSFlow, yesNoText, yesNoFromText),
    TEXT_ROW(spFlowControl, "FlowControl.OutDSRFlow", FlowControl().OutDSRFlow(),
             FlowControl().setOutDSRFlow, yesNoText, yesNoFromText),
    TEXT_ROW(spFlowControl, "FlowControl.TxContinueOnXoff", FlowControl().TxContinueOnXoff(),
             FlowControl().setTxContinueOnXoff, yesNoText, yesNoFromText),
    TEXT_ROW(spFlowControl, "FlowControl.XonXoffIn", FlowControl().XonXoffIn(),
             FlowControl().setXonXoffIn, yesNoText, yesNoFromText),
    TEXT_ROW(spFlowControl, "FlowControl.XonXoffOut", FlowControl().XonXoffOut(),
             FlowControl().setXonXoffOut, yesNoText, yesNoFromText),
    TEXT_ROW(spFlowControl, "FlowControl.XoffChar", FlowControl().XoffChar(),
             FlowControl().setXoffChar, charText, charFromText),
    TEXT_ROW(spFlowControl, "FlowControl.XonChar", FlowControl().XonChar(),
             FlowControl().setXonChar, charText, charFromText),
};

#undef TEXT_ROW
#undef INTEGER_ROW

bool isCustomBaudRateRow(const Row& row) {
    return std::string_view(row.key) == customBaudRateKey;
}

// CustomBaudRate only means something while the rate is brCustom.
bool skipped(const TCustomComPort& port, const Row& row) {
    return !port.StoredProps().contains(row.group) ||
           (isCustomBaudRateRow(row) && port.BaudRate() != brCustom);
}

void writeRows(const TCustomComPort& port, SettingsTarget& target) {
    for (const Row& row : rows) {
        if (skipped(port, row)) continue;
        if (row.text) {
            target.putText(row.key, row.text(port));
        } else {
            target.putInteger(row.key, row.integer(port));
        }
    }
}

// Each value goes through its setter at once, so a connected port applies it (and a new Port
// reopens the device) before the next row is read. Nothing is caught: a failure stops here.
void readRows(TCustomComPort& port, SettingsTarget& target) {
    for (const Row& row : rows) {
        if (skipped(port, row)) continue;
        if (row.text) {
            row.setText(port, target.getText(row.key, row.text(port)));
        } else {
            const std::int32_t iniDefault = isCustomBaudRateRow(row) ? 9600 : row.integer(port);
            row.setInteger(port, target.getInteger(row.key, iniDefault));
        }
    }
}

} // namespace

void TCustomComPort::writeSettingsToRegistry(TRegistryStore& store) {
    RegistryTarget target(store);
    writeRows(*this, target);
}

void TCustomComPort::writeSettingsToIni(TIniStore& store) {
    IniTarget target(store, Name());
    writeRows(*this, target);
}

void TCustomComPort::readSettingsFromRegistry(TRegistryStore& store) {
    RegistryTarget target(store);
    readRows(*this, target);
}

void TCustomComPort::readSettingsFromIni(TIniStore& store) {
    IniTarget target(store, Name());
    readRows(*this, target);
}

} // namespace comport
