#include "comport/settings/SqliteRegistryStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace comport;
using testsupport::TempDir;

namespace {

constexpr const char* key = "Software\\Torvin\\Updater";

// The message of the registry failure that call raises, or "" when it raises none.
template <typename F> std::string registryFailure(F&& call) {
    try {
        call();
    } catch (const ERegistryException& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(SqliteRegistryStore, TextsAndIntegersComeBackAsPut) {
    TempDir dir;
    const std::string db = dir.file("registry.db");
    {
        TSqliteRegistryStore store(db, key, TSqliteRegistryStore::accessReadWrite);
        store.putText("Port", "COM3");
        store.putText("Empty", "");
        store.putText("EventChar", "#0");
        store.putInteger("Min", INT32_MIN);
        store.putInteger("Max", INT32_MAX);
        store.putInteger("Minus", -1);
        store.putText("Port", "COM4"); // replaces
    }
    TSqliteRegistryStore store(db, key, TSqliteRegistryStore::accessRead);
    EXPECT_EQ(store.getText("Port"), "COM4");
    EXPECT_EQ(store.getText("port"), "COM4"); // value names ignore letter case
    EXPECT_EQ(store.getText("Empty"), "");
    EXPECT_EQ(store.getText("EventChar"), "#0");
    EXPECT_EQ(store.getInteger("Min"), INT32_MIN);
    EXPECT_EQ(store.getInteger("Max"), INT32_MAX);
    EXPECT_EQ(store.getInteger("Minus"), -1);
    // The stored form is the registry's: a zero-terminated string and four little-endian bytes.
    EXPECT_EQ(store.getValue("Port"), (TSqliteRegistryStore::TRawValue{regSz, {"COM4\0", 5}}));
    EXPECT_EQ(store.getValue("Minus"),
              (TSqliteRegistryStore::TRawValue{regDword, "\xFF\xFF\xFF\xFF"}));
    EXPECT_EQ(store.getValue("Max"),
              (TSqliteRegistryStore::TRawValue{regDword, "\xFF\xFF\xFF\x7F"}));
}

TEST(SqliteRegistryStore, ReadingTextsOfEveryShape) {
    TempDir dir;
    TSqliteRegistryStore store(dir.file("r.db"), key, TSqliteRegistryStore::accessReadWrite);
    store.putValue("Expand", regExpandSz, {"%HOME%\0", 7});
    store.putValue("NoData", regSz, "");
    store.putValue("NoZero", regSz, "abc");
    store.putValue("Inner", regSz, {"ab\0cd\0", 6});
    store.putInteger("Number", 5);
    store.putValue("Binary", regBinary, "x");
    store.putValue("EmptyDword", regDword, "");
    store.putValue("EmptyBinary", regBinary, "");
    EXPECT_EQ(store.getText("Missing"), "");
    EXPECT_EQ(store.getText("EmptyDword"), "");
    EXPECT_EQ(store.getText("EmptyBinary"), "");
    EXPECT_EQ(store.getText("Expand"), "%HOME%");
    EXPECT_EQ(store.getText("NoData"), "");
    EXPECT_EQ(store.getText("NoZero"), "abc");
    EXPECT_EQ(store.getText("Inner"), "ab");
    EXPECT_EQ(registryFailure([&] { store.getText("Number"); }), "Invalid data type for 'Number'");
    EXPECT_EQ(registryFailure([&] { store.getText("Binary"); }), "Invalid data type for 'Binary'");
}

TEST(SqliteRegistryStore, ReadingIntegersOfEveryShape) {
    TempDir dir;
    TSqliteRegistryStore store(dir.file("r.db"), key, TSqliteRegistryStore::accessReadWrite);
    store.putText("Short", "Yes");  // four bytes with its zero
    store.putText("Long", "COM10"); // more than four bytes
    store.putValue("Half", regDword, "\x01\x02");
    store.putValue("Wide", regDword, "\x01\x02\x03\x04\x05");
    store.putValue("Bin", regBinary, "\x01\x02\x03\x04");
    EXPECT_EQ(registryFailure([&] { store.getInteger("Missing"); }),
              "Failed to get data for 'Missing'");
    EXPECT_EQ(registryFailure([&] { store.getInteger("Short"); }), "Invalid data type for 'Short'");
    EXPECT_EQ(registryFailure([&] { store.getInteger("Long"); }), "Failed to get data for 'Long'");
    EXPECT_EQ(registryFailure([&] { store.getInteger("Half"); }), "Failed to get data for 'Half'");
    EXPECT_EQ(registryFailure([&] { store.getInteger("Wide"); }), "Failed to get data for 'Wide'");
    EXPECT_EQ(registryFailure([&] { store.getInteger("Bin"); }), "Invalid data type for 'Bin'");
}

TEST(SqliteRegistryStore, RefusedWritesNameTheValue) {
    TempDir dir;
    const std::string db = dir.file("r.db");
    { TSqliteRegistryStore create(db, key, TSqliteRegistryStore::accessReadWrite); }
    TSqliteRegistryStore store(db, key, TSqliteRegistryStore::accessRead);
    try {
        store.putText("Port", "COM2");
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'Port'");
        EXPECT_FALSE(e.detail().empty()); // what the database said
    }
    EXPECT_EQ(registryFailure([&] { store.putInteger("Buffer.InputSize", 1); }),
              "Failed to set data for 'Buffer.InputSize'");
    EXPECT_EQ(store.getValue("Port"), std::nullopt);
}

TEST(SqliteRegistryStore, KeysAreSeparateTreesOpenedInAnyCase) {
    TempDir dir;
    const std::string db = dir.file("r.db");
    {
        TSqliteRegistryStore a(db, "\\Software\\Torvin\\A\\",
                               TSqliteRegistryStore::accessReadWrite);
        EXPECT_EQ(a.keyPath(), "Software\\Torvin\\A");
        a.putText("Port", "COM1");
        TSqliteRegistryStore b(db, "Software\\Torvin\\B", TSqliteRegistryStore::accessReadWrite);
        b.putText("Port", "COM2");
    }
    TSqliteRegistryStore a(db, "SOFTWARE\\torvin\\a", TSqliteRegistryStore::accessRead);
    EXPECT_EQ(a.getText("Port"), "COM1");
    TSqliteRegistryStore parent(db, "Software\\Torvin", TSqliteRegistryStore::accessRead);
    EXPECT_EQ(parent.getText("Port"), ""); // parents are keys of their own
    TSqliteRegistryStore b(db, "Software\\Torvin\\B", TSqliteRegistryStore::accessReadWrite);
    EXPECT_TRUE(b.deleteValue("PORT"));
    EXPECT_EQ(b.getValue("Port"), std::nullopt);
}

TEST(SqliteRegistryStore, OpeningFailuresNameKeyAndFile) {
    TempDir dir;
    const std::string db = dir.file("r.db");
    EXPECT_THROW(TSqliteRegistryStore(db, key, TSqliteRegistryStore::accessRead),
                 ERegistryException);
    { TSqliteRegistryStore create(db, "Software", TSqliteRegistryStore::accessReadWrite); }
    try {
        TSqliteRegistryStore(db, key, TSqliteRegistryStore::accessRead);
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open registry key 'Software\\Torvin\\Updater' in " + db);
        EXPECT_EQ(e.detail(), "no such key");
    }
    const std::string junk = dir.file("junk.db");
    std::ofstream(junk) << "this is not a database, but long enough to look like a header....";
    EXPECT_THROW(TSqliteRegistryStore(junk, key, TSqliteRegistryStore::accessReadWrite),
                 ERegistryException);
}

// A writer killed at random moments never leaves a torn value or a damaged database.
TEST(SqliteRegistryStore, AKilledWriterNeverLeavesATornValue) {
    TempDir dir;
    const std::string db = dir.file("r.db");
    const std::string a(50000, 'a'), b(50000, 'b');
    { TSqliteRegistryStore(db, key, TSqliteRegistryStore::accessReadWrite).putText("v", a); }
    for (int round = 0; round < 5; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            TSqliteRegistryStore store(db, key, TSqliteRegistryStore::accessReadWrite);
            for (int i = 0;; ++i)
                store.putText("v", i % 2 ? a : b);
        }
        ::usleep(static_cast<useconds_t>(5000 + 4000 * round));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        TSqliteRegistryStore store(db, key, TSqliteRegistryStore::accessReadWrite);
        const std::string v = store.getText("v");
        ASSERT_TRUE(v == a || v == b) << "round " << round;
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
        sqlite3_stmt* check = nullptr;
        sqlite3_prepare_v2(raw, "PRAGMA integrity_check", -1, &check, nullptr);
        ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
        sqlite3_finalize(check);
        sqlite3_close(raw);
    }
}

TEST(SqliteRegistryStore, AnUpdateCommitsItsValuesTogether) {
    TempDir dir;
    const std::string db = dir.file("r.db");
    TSqliteRegistryStore writer(db, key, TSqliteRegistryStore::accessReadWrite);
    writer.beginUpdate();
    writer.putText("Port", "COM2");
    writer.putInteger("Buffer.InputSize", 512);
    {
        TSqliteRegistryStore reader(db, key, TSqliteRegistryStore::accessRead);
        EXPECT_EQ(reader.getValue("Port"), std::nullopt); // not yet committed
    }
    writer.endUpdate();
    TSqliteRegistryStore reader(db, key, TSqliteRegistryStore::accessRead);
    EXPECT_EQ(reader.getText("Port"), "COM2");
    EXPECT_EQ(reader.getInteger("Buffer.InputSize"), 512);

    // An update that is never ended is dropped with the store.
    {
        TSqliteRegistryStore abandoned(db, key, TSqliteRegistryStore::accessReadWrite);
        abandoned.beginUpdate();
        abandoned.putText("Port", "COM9");
    }
    EXPECT_EQ(reader.getText("Port"), "COM2");
}
