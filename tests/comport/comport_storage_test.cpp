#include "comport/ComPort.h"
#include "comport/settings/IniFileStore.h"
#include "comport/settings/SettingsStores.h"
#include "comport/settings/SqliteRegistryStore.h"
#include "framework/Convert.h"
#include "tests/support/FakeComDriver.h"
#include "tests/support/Pty.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <vector>

using namespace comport;
using testsupport::FakeComDriver;
using testsupport::TempDir;

namespace {

// An ini store in memory that logs every call ("put ComPort1 Port=COM1", "get ComPort1 Port")
// and can be told to fail at a key.
class RecordingIniStore : public TIniStore {
public:
    std::vector<std::string> log;
    std::map<std::string, std::string> values; // "Section/Key" -> text
    std::string failAt;                        // key whose put or get raises
    std::function<void(std::string_view key)> onGet;

    std::string getText(std::string_view section, std::string_view key,
                        std::string_view defaultText) override {
        enter("get", section, key, "");
        auto it = values.find(id(section, key));
        return it == values.end() ? std::string(defaultText) : it->second;
    }
    void putText(std::string_view section, std::string_view key, std::string_view text) override {
        enter("put", section, key, "=" + std::string(text));
        values[id(section, key)] = text;
    }
    std::int32_t getInteger(std::string_view section, std::string_view key,
                            std::int32_t defaultValue) override {
        enter("getInteger", section, key, "");
        auto it = values.find(id(section, key));
        return it == values.end() ? defaultValue : fw::strToInt(it->second);
    }
    void putInteger(std::string_view section, std::string_view key, std::int32_t value) override {
        enter("putInteger", section, key, "=" + std::to_string(value));
        values[id(section, key)] = std::to_string(value);
    }

private:
    static std::string id(std::string_view s, std::string_view k) {
        return std::string(s) + "/" + std::string(k);
    }
    void enter(const char* op, std::string_view section, std::string_view key,
               const std::string& rest) {
        if (key == failAt) throw std::runtime_error("store broke at " + std::string(key));
        log.push_back(std::string(op) + " " + std::string(section) + " " + std::string(key) + rest);
        if (onGet && op[0] == 'g') onGet(key);
    }
};

// A registry key in memory with the registry's typed values and failures.
class MemoryRegistryStore : public TRegistryStore {
public:
    struct Value {
        bool isText;
        std::string text;
        std::int32_t number;
    };
    std::map<std::string, Value> values;
    std::vector<std::string> log;

    std::string getText(std::string_view name) override {
        log.push_back("get " + std::string(name));
        auto it = values.find(std::string(name));
        if (it == values.end()) return "";
        if (!it->second.isText) throw ERegistryException::invalidDataType(name);
        return it->second.text;
    }
    void putText(std::string_view name, std::string_view text) override {
        log.push_back("put " + std::string(name) + "=" + std::string(text));
        values[std::string(name)] = {true, std::string(text), 0};
    }
    std::int32_t getInteger(std::string_view name) override {
        log.push_back("getInteger " + std::string(name));
        auto it = values.find(std::string(name));
        if (it == values.end()) throw ERegistryException::failedToGet(name);
        if (it->second.isText) throw ERegistryException::invalidDataType(name);
        return it->second.number;
    }
    void putInteger(std::string_view name, std::int32_t value) override {
        log.push_back("putInteger " + std::string(name) + "=" + std::to_string(value));
        values[std::string(name)] = {false, "", value};
    }
};

constexpr TStoredProps allGroups{spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers};

std::unique_ptr<TComPort> newPort(const std::string& name = "ComPort1") {
    auto port = std::make_unique<TComPort>();
    port->setName(name);
    return port;
}

// Every stored setting away from its default, with a flow-control mix that reads fcCustom.
void setOtherSettings(TCustomComPort& p, char chars) {
    p.setPort("/dev/ttyUSB7");
    p.setBaudRate(brCustom);
    p.setCustomBaudRate(250000);
    p.setStopBits(sbTwoStopBits);
    p.setDataBits(dbSeven);
    p.Parity().setBits(prMark);
    p.setEventChar(chars);
    p.setDiscardNull(true);
    p.Parity().setCheck(true);
    p.Parity().setReplace(true);
    p.Parity().setReplaceChar(static_cast<char>(chars + 1));
    p.Buffer().setOutputSize(4096);
    p.Buffer().setInputSize(-3);
    p.Timeouts().setReadInterval(INT32_MAX);
    p.Timeouts().setReadTotalConstant(-1);
    p.Timeouts().setReadTotalMultiplier(7);
    p.Timeouts().setWriteTotalConstant(INT32_MIN);
    p.Timeouts().setWriteTotalMultiplier(3);
    p.FlowControl().setControlRTS(rtsToggle);
    p.FlowControl().setControlDTR(dtrHandshake);
    p.FlowControl().setDSRSensitivity(true);
    p.FlowControl().setOutCTSFlow(true);
    p.FlowControl().setOutDSRFlow(true);
    p.FlowControl().setTxContinueOnXoff(true);
    p.FlowControl().setXonXoffIn(true);
    p.FlowControl().setXonXoffOut(false);
    p.FlowControl().setXoffChar(static_cast<char>(chars + 2));
    p.FlowControl().setXonChar(static_cast<char>(chars + 3));
}

// The stored settings as one comparable text.
std::string storedSettings(const TCustomComPort& p) {
    const auto& f = p.FlowControl();
    const auto& t = p.Timeouts();
    auto c = [](char ch) { return std::to_string(static_cast<unsigned char>(ch)); };
    return p.Port() + " " + std::to_string(p.BaudRate()) + " " +
           std::to_string(p.CustomBaudRate()) + " " + std::to_string(p.StopBits()) + " " +
           std::to_string(p.DataBits()) + " " + std::to_string(p.Parity().Bits()) + " " +
           c(p.EventChar()) + " " + std::to_string(p.DiscardNull()) + " " +
           std::to_string(p.Parity().Check()) + std::to_string(p.Parity().Replace()) + " " +
           c(p.Parity().ReplaceChar()) + " " + std::to_string(p.Buffer().OutputSize()) + " " +
           std::to_string(p.Buffer().InputSize()) + " " + std::to_string(t.ReadInterval()) + " " +
           std::to_string(t.ReadTotalConstant()) + " " + std::to_string(t.ReadTotalMultiplier()) +
           " " + std::to_string(t.WriteTotalConstant()) + " " +
           std::to_string(t.WriteTotalMultiplier()) + " " + std::to_string(f.ControlRTS()) +
           std::to_string(f.ControlDTR()) + std::to_string(f.DSRSensitivity()) +
           std::to_string(f.OutCTSFlow()) + std::to_string(f.OutDSRFlow()) +
           std::to_string(f.TxContinueOnXoff()) + std::to_string(f.XonXoffIn()) +
           std::to_string(f.XonXoffOut()) + " " + c(f.XoffChar()) + " " + c(f.XonChar());
}

const std::vector<std::string> basicExample{
    "put ComPort1 Port=COM1",  "put ComPort1 BaudRate=9600", "put ComPort1 StopBits=1",
    "put ComPort1 DataBits=8", "put ComPort1 Parity=None",   "put ComPort1 FlowControl=None",
};

const std::vector<std::string> restOfExample{
    "put ComPort1 EventChar=#0",
    "put ComPort1 DiscardNull=No",
    "put ComPort1 Parity.Check=No",
    "put ComPort1 Parity.Replace=No",
    "put ComPort1 Parity.ReplaceChar=#0",
    "putInteger ComPort1 Buffer.OutputSize=1024",
    "putInteger ComPort1 Buffer.InputSize=1024",
    "putInteger ComPort1 Timeouts.ReadInterval=-1",
    "putInteger ComPort1 Timeouts.ReadTotalConstant=0",
    "putInteger ComPort1 Timeouts.ReadTotalMultiplier=0",
    "putInteger ComPort1 Timeouts.WriteTotalConstant=1000",
    "putInteger ComPort1 Timeouts.WriteTotalMultiplier=100",
    "put ComPort1 FlowControl.ControlRTS=Disable",
    "put ComPort1 FlowControl.ControlDTR=Disable",
    "put ComPort1 FlowControl.DSRSensitivity=No",
    "put ComPort1 FlowControl.OutCTSFlow=No",
    "put ComPort1 FlowControl.OutDSRFlow=No",
    "put ComPort1 FlowControl.TxContinueOnXoff=No",
    "put ComPort1 FlowControl.XonXoffIn=No",
    "put ComPort1 FlowControl.XonXoffOut=No",
    "put ComPort1 FlowControl.XoffChar=#19",
    "put ComPort1 FlowControl.XonChar=#17",
};

} // namespace

TEST(ComPortStorage, DefaultPortWritesTheExampleInOrder) {
    auto port = newPort();
    RecordingIniStore basic;
    port->writeSettingsToIni(basic);
    EXPECT_EQ(basic.log, basicExample);

    port->setStoredProps(allGroups);
    RecordingIniStore all;
    port->writeSettingsToIni(all);
    std::vector<std::string> expected = basicExample;
    expected.insert(expected.end(), restOfExample.begin(), restOfExample.end());
    EXPECT_EQ(all.log, expected);

    // The registry gets the same values under the same names, integers as integers.
    MemoryRegistryStore registry;
    port->writeSettingsToRegistry(registry);
    ASSERT_EQ(registry.log.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::string e = expected[i];
        e.erase(e.find(" ComPort1"), 9);
        EXPECT_EQ(registry.log[i], e);
    }
}

TEST(ComPortStorage, EmptyStoredPropsWritesAndReadsNothing) {
    auto port = newPort();
    port->setStoredProps({});
    RecordingIniStore ini;
    ini.values["ComPort1/Port"] = "COM9";
    port->writeSettingsToIni(ini);
    port->readSettingsFromIni(ini);
    MemoryRegistryStore registry;
    port->writeSettingsToRegistry(registry);
    port->readSettingsFromRegistry(registry);
    EXPECT_TRUE(ini.log.empty());
    EXPECT_TRUE(registry.log.empty());
    EXPECT_EQ(port->Port(), "COM1");
}

TEST(ComPortStorage, CustomBaudRateIsWrittenOnlyForTheCustomRate) {
    auto port = newPort();
    port->setCustomBaudRate(31250);
    RecordingIniStore standard;
    port->writeSettingsToIni(standard);
    EXPECT_EQ(standard.values.count("ComPort1/CustomBaudRate"), 0u);

    port->setBaudRate(brCustom);
    RecordingIniStore custom;
    port->writeSettingsToIni(custom);
    EXPECT_EQ(custom.log[1], "put ComPort1 BaudRate=Custom");
    EXPECT_EQ(custom.log[2], "putInteger ComPort1 CustomBaudRate=31250");
    EXPECT_EQ(custom.log[3], "put ComPort1 StopBits=1");
}

// Every stored setting comes back into a port that had other values, through both real stores;
// settings outside the stored ones are neither written nor read.
TEST(ComPortStorage, EveryGroupRoundTripsThroughBothStores) {
    TempDir dir;
    auto source = newPort();
    setOtherSettings(*source, 'a');
    source->setStoredProps(allGroups);
    source->setEvents({evRxChar});
    source->setSyncMethod(smNone);
    TIniFileStore ini(dir.file("settings.ini"));
    TSqliteRegistryStore registry(dir.file("registry.db"), "Software\\Torvin",
                                  TSqliteRegistryStore::accessReadWrite);
    // One write to disk per store rather than one per row.
    ini.beginUpdate();
    source->writeSettingsToIni(ini);
    ini.endUpdate();
    registry.beginUpdate();
    source->writeSettingsToRegistry(registry);
    registry.endUpdate();

    for (int storeKind = 0; storeKind < 2; ++storeKind) {
        auto target = newPort();
        target->setStoredProps(allGroups);
        ASSERT_NE(storedSettings(*target), storedSettings(*source));
        if (storeKind == 0) {
            TIniFileStore reopened(dir.file("settings.ini"));
            target->readSettingsFromIni(reopened);
        } else {
            target->readSettingsFromRegistry(registry);
        }
        EXPECT_EQ(storedSettings(*target), storedSettings(*source)) << storeKind;
        EXPECT_EQ(target->Events(), allComEvents);
        EXPECT_EQ(target->SyncMethod(), smThreadSync);
    }
    EXPECT_EQ(ini.getText("ComPort1", "Events", "absent"), "absent");
    EXPECT_EQ(registry.getValue("SyncMethod"), std::nullopt);
}

TEST(ComPortStorage, EveryCharacterCodeRoundTrips) {
    auto source = newPort();
    auto target = newPort();
    source->setStoredProps(allGroups);
    target->setStoredProps(allGroups);
    for (int code = 0; code < 256; ++code) {
        setOtherSettings(*source, static_cast<char>(code));
        setOtherSettings(*target, static_cast<char>(code + 128));
        RecordingIniStore ini;
        source->writeSettingsToIni(ini);
        target->readSettingsFromIni(ini);
        ASSERT_EQ(storedSettings(*target), storedSettings(*source)) << code;
        setOtherSettings(*target, static_cast<char>(code + 128));
        MemoryRegistryStore registry;
        source->writeSettingsToRegistry(registry);
        target->readSettingsFromRegistry(registry);
        ASSERT_EQ(storedSettings(*target), storedSettings(*source)) << code;
    }
}

TEST(ComPortStorage, IniReadingKeepsWhatIsAbsentAndFallsBackOnForeignTexts) {
    auto port = newPort();
    port->setStoredProps(allGroups);
    setOtherSettings(*port, 'x');
    const std::string before = storedSettings(*port);

    RecordingIniStore empty; // no section for the port at all
    port->readSettingsFromIni(empty);
    port->setCustomBaudRate(250000); // the one exception: an absent CustomBaudRate reads 9600
    EXPECT_EQ(storedSettings(*port), before);
    EXPECT_EQ(empty.log[2], "getInteger ComPort1 CustomBaudRate");

    RecordingIniStore texts;
    texts.values = {{"ComPort1/BaudRate", "custom"},  {"ComPort1/StopBits", "1,5"},
                    {"ComPort1/DataBits", "9"},       {"ComPort1/Parity", "none"},
                    {"ComPort1/DiscardNull", "true"}, {"ComPort1/EventChar", "#$41"},
                    {"ComPort1/Parity.Check", "YES"}};
    port->readSettingsFromIni(texts);
    EXPECT_EQ(port->BaudRate(), brCustom);
    EXPECT_EQ(port->CustomBaudRate(), 9600);
    EXPECT_EQ(port->StopBits(), sbOneStopBit);
    EXPECT_EQ(port->DataBits(), dbEight);
    EXPECT_EQ(port->Parity().Bits(), prNone);
    EXPECT_FALSE(port->DiscardNull());
    EXPECT_EQ(port->EventChar(), 'A');
    EXPECT_TRUE(port->Parity().Check());

    RecordingIniStore trailing;
    trailing.values = {{"ComPort1/BaudRate", "115200 "}};
    port->readSettingsFromIni(trailing);
    EXPECT_EQ(port->BaudRate(), br9600);
    EXPECT_EQ(trailing.log[2], "get ComPort1 StopBits"); // no CustomBaudRate for br9600
}

TEST(ComPortStorage, CombinedFlowControlSetsTheFourSettingsUnlessOverridden) {
    auto port = newPort();
    port->FlowControl().setControlDTR(dtrHandshake);
    port->FlowControl().setOutDSRFlow(true);
    port->FlowControl().setControlRTS(rtsToggle);

    RecordingIniStore unknown;
    unknown.values = {{"ComPort1/FlowControl", "RTS/CTS"}};
    port->readSettingsFromIni(unknown);
    EXPECT_EQ(port->FlowControl().ControlRTS(), rtsToggle); // left as it was

    RecordingIniStore hardware;
    hardware.values = {{"ComPort1/FlowControl", "hardware"}};
    port->readSettingsFromIni(hardware);
    EXPECT_EQ(port->FlowControl().FlowControl(), fcHardware);
    EXPECT_EQ(port->FlowControl().ControlDTR(), dtrHandshake); // never touched by the summary
    EXPECT_TRUE(port->FlowControl().OutDSRFlow());

    // With spFlowControl the individual rows follow and win.
    port->setStoredProps({spBasic, spFlowControl});
    RecordingIniStore both;
    both.values = {{"ComPort1/FlowControl", "Software"}, {"ComPort1/FlowControl.XonXoffOut", "No"}};
    port->readSettingsFromIni(both);
    EXPECT_TRUE(port->FlowControl().XonXoffIn());
    EXPECT_FALSE(port->FlowControl().XonXoffOut());
    EXPECT_EQ(port->FlowControl().FlowControl(), fcCustom);
}

TEST(ComPortStorage, RegistryReadingWithoutValuesFallsBackOrStops) {
    auto port = newPort();
    setOtherSettings(*port, 'x');
    port->setStoredProps({spBasic, spOthers, spParity, spBuffer, spTimeouts});
    MemoryRegistryStore registry;
    registry.putText("BaudRate", "4800");
    registry.putInteger("Timeouts.ReadInterval", 5);
    registry.log.clear();
    try {
        port->readSettingsFromRegistry(registry);
        FAIL() << "a missing integer value must stop the reading";
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Failed to get data for 'Buffer.OutputSize'");
    }
    // Missing texts read as empty: fallbacks everywhere, an empty Port.
    EXPECT_EQ(port->Port(), "");
    EXPECT_EQ(port->BaudRate(), br4800);
    EXPECT_EQ(port->StopBits(), sbOneStopBit);
    EXPECT_EQ(port->DataBits(), dbEight);
    EXPECT_EQ(port->Parity().Bits(), prNone);
    EXPECT_EQ(port->EventChar(), '\0');
    EXPECT_FALSE(port->DiscardNull());
    EXPECT_FALSE(port->Parity().Check());
    EXPECT_EQ(port->Parity().ReplaceChar(), '\0');
    // Nothing after the failing value was read.
    EXPECT_EQ(registry.log.back(), "getInteger Buffer.OutputSize");
    EXPECT_EQ(port->Timeouts().ReadInterval(), INT32_MAX);
}

TEST(ComPortStorage, RegistryCustomRateWithoutItsValueStops) {
    auto port = newPort();
    MemoryRegistryStore registry;
    registry.putText("BaudRate", "Custom");
    try {
        port->readSettingsFromRegistry(registry);
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Failed to get data for 'CustomBaudRate'");
    }
    EXPECT_EQ(port->BaudRate(), brCustom);
    EXPECT_EQ(port->StopBits(), sbOneStopBit);
}

TEST(ComPortStorage, AStoreFailureEndsTheOperationAndKeepsWhatWasDone) {
    auto port = newPort();
    port->setStoredProps(allGroups);
    RecordingIniStore store;
    store.failAt = "Parity.Check";
    EXPECT_THROW(port->writeSettingsToIni(store), std::runtime_error);
    EXPECT_EQ(store.values.size(), 8u); // the six of spBasic and the two of spOthers
    EXPECT_EQ(store.values.count("ComPort1/Parity.Replace"), 0u);

    store.values["ComPort1/Port"] = "COM5";
    store.values["ComPort1/DiscardNull"] = "Yes";
    store.values["ComPort1/Parity.Replace"] = "Yes";
    EXPECT_THROW(port->readSettingsFromIni(store), std::runtime_error);
    EXPECT_EQ(port->Port(), "COM5");
    EXPECT_TRUE(port->DiscardNull());
    EXPECT_FALSE(port->Parity().Replace());
}

// On an open port each value is applied as it is read; a refused setting stops the reading with
// the port's own error, and what was set before stays set.
TEST(ComPortStorage, ReadingIntoAnOpenPortAppliesEachValueAtOnce) {
    auto driver = std::make_shared<FakeComDriver>();
    TComPort port(nullptr, driver);
    port.setName("ComPort1");
    port.setPort("COM4");
    port.setConnected(true);
    ASSERT_TRUE(port.Connected());
    const int opensBefore = driver->opens();

    RecordingIniStore store;
    store.values = {
        {"ComPort1/Port", "COM6"}, {"ComPort1/BaudRate", "19200"}, {"ComPort1/StopBits", "2"}};
    std::vector<std::string> seen;
    store.onGet = [&](std::string_view key) {
        if (key != "BaudRate") return;
        seen.push_back("reopened " + std::to_string(driver->opens()));
        driver->failCall("setCommState", 31); // the device refuses the new rate
    };
    EXPECT_THROW(port.readSettingsFromIni(store), EComPort);
    EXPECT_EQ(seen, std::vector<std::string>{"reopened " + std::to_string(opensBefore + 1)});
    EXPECT_EQ(port.BaudRate(), br19200); // stays set although the device refused it
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
}

// A new Port read into a connected port moves it to the new device before the next row is read.
TEST(ComPortStorage, AChangedPortReopensAConnectedPortAtOnce) {
    testsupport::PtyPair first, second;
    std::vector<std::string> log;
    TComPort port;
    port.setName("ComPort1");
    port.setPort(first.path());
    port.OnBeforeClose = [&](fw::TObject*) { log.push_back("before close"); };
    port.OnAfterClose = [&](fw::TObject*) { log.push_back("after close"); };
    port.OnBeforeOpen = [&](fw::TObject*) { log.push_back("before open"); };
    port.OnAfterOpen = [&](fw::TObject*) { log.push_back("after open"); };
    port.openPort();
    log.clear();

    RecordingIniStore store;
    store.values = {{"ComPort1/Port", second.path()}, {"ComPort1/BaudRate", "19200"}};
    store.onGet = [&](std::string_view key) {
        log.push_back("get " + std::string(key));
        if (key == "BaudRate") {
            // Already on the new line while the next row is read.
            EXPECT_EQ(port.writeText("!"), 1);
            EXPECT_EQ(second.receive(1), "!");
        }
    };
    port.readSettingsFromIni(store);

    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 6),
              (std::vector<std::string>{"get Port", "before close", "after close", "before open",
                                        "after open", "get BaudRate"}));
    ASSERT_TRUE(port.Connected());
    EXPECT_EQ(port.Port(), second.path());
    EXPECT_EQ(first.drain(), "");
    termios t{};
    ASSERT_TRUE(second.terminalSettings(&t));
    EXPECT_EQ(cfgetospeed(&t), B19200); // the rate read after the move reached the new device

    // The first device was given up: another port may open it now.
    TComPort other;
    other.setPort(first.path());
    other.openPort();
    EXPECT_TRUE(other.Connected());
}
