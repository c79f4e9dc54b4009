#include "comport/ComPort.h"
#include "comport/settings/SettingsFiles.h"
#include "comport/settings/SqliteRegistryStore.h"
#include "framework/FileIO.h"
#include "tests/support/FakeComDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace comport;
using testsupport::TempDir;

namespace {

constexpr TStoredProps allGroups{spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers};
constexpr const char* key = "Software\\Torvin\\Updater";

struct Reported {
    int count = 0;
    TComExceptions kind{};
    std::string message;
    std::int64_t code = 0;
};

void catchReports(TCustomComPort& port, Reported& r) {
    port.OnException = [&r](fw::TObject*, TComExceptions kind, const std::string& message,
                            std::int64_t code, const std::string&) {
        ++r.count;
        r.kind = kind;
        r.message = message;
        r.code = code;
    };
}

} // namespace

TEST(SettingsFiles, IniFileRoundTripKeepsTheFilesOtherContent) {
    TempDir dir;
    const std::string path = dir.file("torvin.ini");
    std::ofstream(path) << "; written by hand\n[Window]\nLeft=10\n";
    TComPort source;
    source.setName("ComPort1");
    source.setStoredProps(allGroups);
    source.setPort("COM7");
    source.setBaudRate(br57600);
    source.Timeouts().setReadInterval(20);
    saveSettingsToIniFile(source, path);

    const std::string text = fw::readWholeFile(path).value();
    EXPECT_EQ(text.rfind("; written by hand\n[Window]\nLeft=10\n\n[ComPort1]\nPort=COM7\n", 0), 0u)
        << text;

    TComPort target;
    target.setName("ComPort1");
    target.setStoredProps(allGroups);
    loadSettingsFromIniFile(target, path);
    EXPECT_EQ(target.Port(), "COM7");
    EXPECT_EQ(target.BaudRate(), br57600);
    EXPECT_EQ(target.Timeouts().ReadInterval(), 20);
}

TEST(SettingsFiles, IniFailuresAreErrorsSixteenAndSeventeenWithTheirCause) {
    TempDir dir;
    TComPort port;
    port.setName("ComPort1");
    try {
        saveSettingsToIniFile(port, dir.file("no/such/dir.ini"));
        FAIL();
    } catch (const ESettingsStoreError& e) {
        EXPECT_STREQ(e.what(), "Failed to store settings (Error: 2)");
        EXPECT_EQ(e.errorCode(), 16);
        EXPECT_NE(e.detail().find("no/such/dir.ini"), std::string::npos) << e.detail();
    }

    const std::string path = dir.file("bad.ini");
    std::ofstream(path) << "[ComPort1]\nBuffer.InputSize=big\n";
    port.setStoredProps({spBasic, spBuffer});
    try {
        loadSettingsFromIniFile(port, path);
        FAIL();
    } catch (const ESettingsStoreError& e) {
        EXPECT_STREQ(e.what(), "Failed to load settings");
        EXPECT_EQ(e.errorCode(), 17);
        EXPECT_NE(e.detail().find("'big' is not a valid integer for 'Buffer.InputSize'"),
                  std::string::npos)
            << e.detail();
    }

    Reported r;
    catchReports(port, r);
    loadSettingsFromIniFile(port, path); // the handler takes it; nothing is raised
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.kind, CE_LoadFailed);
    EXPECT_EQ(r.message, "Failed to load settings");
}

TEST(SettingsFiles, RegistryRoundTripAndItsFailures) {
    TempDir dir;
    const std::string db = dir.file("registry.db");
    TComPort port;
    port.setStoredProps(allGroups);
    port.setBaudRate(brCustom);
    port.setCustomBaudRate(31250);

    try {
        loadSettingsFromRegistry(port, db, key); // no such key yet
        FAIL();
    } catch (const ESettingsStoreError& e) {
        EXPECT_STREQ(e.what(), "Registry error");
        EXPECT_EQ(e.errorCode(), 23);
        EXPECT_NE(e.detail().find("Software\\Torvin\\Updater"), std::string::npos);
    }

    saveSettingsToRegistry(port, db, key);
    TComPort target;
    target.setStoredProps(allGroups);
    loadSettingsFromRegistry(target, db, key);
    EXPECT_EQ(target.CustomBaudRate(), 31250);

    TSqliteRegistryStore(db, key, TSqliteRegistryStore::accessReadWrite)
        .deleteValue("Timeouts.ReadInterval");
    try {
        loadSettingsFromRegistry(target, db, key);
        FAIL();
    } catch (const ESettingsStoreError& e) {
        EXPECT_STREQ(e.what(), "Failed to load settings");
        EXPECT_EQ(e.detail(), "Failed to get data for 'Timeouts.ReadInterval'");
    }

    Reported r;
    catchReports(port, r);
    saveSettingsToRegistry(port, dir.file("missing/registry.db"), key);
    EXPECT_EQ(r.kind, CE_RegError);
}

// A setting the open device refuses was reported by the port itself and passes unchanged.
TEST(SettingsFiles, TheDevicesRefusalPassesUnchanged) {
    TempDir dir;
    const std::string path = dir.file("torvin.ini");
    std::ofstream(path) << "[ComPort1]\nBaudRate=19200\n";
    auto driver = std::make_shared<testsupport::FakeComDriver>();
    TComPort port(nullptr, driver);
    port.setName("ComPort1");
    port.setConnected(true);
    driver->failCall("setCommState", 31);
    try {
        loadSettingsFromIniFile(port, path);
        FAIL();
    } catch (const ESettingsStoreError&) {
        FAIL() << "the port's own error must not be reported twice";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.errorCode(), 7);
    }
    EXPECT_EQ(port.BaudRate(), br19200);
}
