#include "comport/settings/IniDocument.h"
#include "comport/settings/IniFileStore.h"
#include "framework/FileIO.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace comport;
using testsupport::TempDir;

namespace {

std::string readFile(const std::string& path) {
    return fw::readWholeFile(path).value();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    return names;
}

} // namespace

TEST(IniDocument, ChangingOneKeyKeepsEveryOtherByte) {
    const std::string before = "\xEF\xBB\xBF; settings\r\n"
                               "[Other]\r\n"
                               "Port=keep me\r\n"
                               "\r\n"
                               "[ComPort1]\r\n"
                               "  port = COM3 \r\n"
                               "BaudRate=9600\r\n"
                               "; about the next section\r\n"
                               "\r\n"
                               "[Last]\r\n"
                               "x=1";
    IniDocument doc(before);
    doc.setValue("comport1", "PORT", "COM7");
    doc.setValue("ComPort1", "StopBits", "1");
    doc.setValue("Last", "y", "2");
    doc.setValue("New", "Key", "v");
    EXPECT_EQ(doc.text(), "\xEF\xBB\xBF; settings\r\n"
                          "[Other]\r\n"
                          "Port=keep me\r\n"
                          "\r\n"
                          "[ComPort1]\r\n"
                          "PORT=COM7\r\n"
                          "BaudRate=9600\r\n"
                          "StopBits=1\r\n"
                          "; about the next section\r\n"
                          "\r\n"
                          "[Last]\r\n"
                          "x=1\r\n"
                          "y=2\r\n"
                          "\r\n"
                          "[New]\r\n"
                          "Key=v\r\n");
}

TEST(IniDocument, AKeyAddedAfterALastLineEndingInCRLeavesThatLineAsItWas) {
    for (const std::string before : {"[S]\nx=2\r", "[S]\rx=2\r", "[S]\r\nx=2\r"}) {
        IniDocument doc(before);
        const auto x = doc.value("S", "x");
        doc.setValue("S", "y", "3");
        EXPECT_EQ(doc.text().substr(0, before.size()), before);
        const IniDocument after(doc.text());
        EXPECT_EQ(after.value("S", "x"), x);
        EXPECT_EQ(after.value("S", "y"), "3");
    }
}

TEST(IniDocument, AnAddedLineNeverRunsIntoALoneCRBesideIt) {
    // A CR ending followed by an LF ending would read back as one CR LF, losing a line.
    IniDocument afterCr("[S]\nx=2\r");
    afterCr.setValue("T", "k", "v"); // a blank line, then the section
    EXPECT_EQ(afterCr.text(), "[S]\nx=2\r\r\n[T]\nk=v\n");
    IniDocument beforeBlank("[S]\rk=1\n\n"); // added lines end in CR, as the first one
    beforeBlank.setValue("S", "j", "2");
    EXPECT_EQ(beforeBlank.text(), "[S]\rk=1\nj=2\r\n\n");
}

TEST(IniDocument, ReadsNamesInAnyCaseAndTheFirstOfDuplicates) {
    IniDocument doc("[A]\nk=1\nK=2\n[a]\nk=3\nother line\n[B]\n k = spaced \nempty=\n");
    EXPECT_EQ(doc.value("a", "K"), "1");
    EXPECT_EQ(doc.value("B", "k"), "spaced");
    EXPECT_EQ(doc.value("B", "empty"), "");
    EXPECT_EQ(doc.value("B", "missing"), std::nullopt);
    EXPECT_EQ(doc.value("C", "k"), std::nullopt);
    doc.setValue("A", "k", "9");
    EXPECT_EQ(doc.value("A", "k"), "9");
    EXPECT_EQ(doc.text(), "[A]\nk=9\nK=2\n[a]\nk=3\nother line\n[B]\n k = spaced \nempty=\n");
}

TEST(IniDocument, ValuesComeBackExactlyAsPut) {
    const std::vector<std::string> values{
        "",  " ",   "  lead", "trail\t",      "\"quoted\"", "\"",          "\"\"", "a=b",      ";",
        "#", "#17", "[x]",    "\\\\.\\COM10", "\"half",     "caf\xC3\xA9", "\x7F", "x \"y\" z"};
    IniDocument doc;
    for (std::size_t i = 0; i < values.size(); ++i) {
        doc.setValue("S", "k" + std::to_string(i), values[i]);
    }
    const IniDocument reread(doc.text());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(reread.value("S", "k" + std::to_string(i)), values[i]) << values[i];
    }
}

TEST(IniDocument, RefusesWhatTheFormatCannotHold) {
    IniDocument doc("[S]\nk=1\n");
    const std::string before = doc.text();
    EXPECT_THROW(doc.setValue("S", "k", "two\nlines"), EIniFileError);
    EXPECT_THROW(doc.setValue("S", "k", "cr\r"), EIniFileError);
    EXPECT_THROW(doc.setValue("S", "k", std::string("nul\0", 4)), EIniFileError);
    EXPECT_THROW(doc.setValue("S", "a=b", "1"), EIniFileError);
    EXPECT_THROW(doc.setValue("S", "", "1"), EIniFileError);
    EXPECT_THROW(doc.setValue("S", " k", "1"), EIniFileError);
    EXPECT_THROW(doc.setValue("S", "[k]", "1"), EIniFileError);
    EXPECT_THROW(doc.setValue("S", ";k", "1"), EIniFileError);
    EXPECT_THROW(doc.setValue("S]", "k", "1"), EIniFileError);
    EXPECT_THROW(doc.setValue("", "k", "1"), EIniFileError);
    EXPECT_THROW(doc.setValue("A\n[B", "k", "1"), EIniFileError);
    EXPECT_EQ(doc.text(), before);
}

TEST(IniFileStore, MissingFileGivesDefaultsAndPutsCreateIt) {
    TempDir dir;
    const std::string path = dir.file("port.ini");
    TIniFileStore store(path);
    EXPECT_EQ(store.getText("ComPort1", "Port", "COM1"), "COM1");
    EXPECT_EQ(store.getInteger("ComPort1", "Buffer.InputSize", 1024), 1024);
    EXPECT_FALSE(std::filesystem::exists(path));

    store.putText("ComPort1", "Port", "COM3");
    store.putInteger("ComPort1", "Timeouts.ReadInterval", -1);
    store.putInteger("ComPort1", "Buffer.InputSize", INT32_MIN);
    EXPECT_EQ(readFile(path),
              "[ComPort1]\nPort=COM3\nTimeouts.ReadInterval=-1\nBuffer.InputSize=-2147483648\n");

    TIniFileStore reopened(path);
    EXPECT_EQ(reopened.getText("ComPort1", "Port", ""), "COM3");
    EXPECT_EQ(reopened.getInteger("ComPort1", "Timeouts.ReadInterval", 0), -1);
    EXPECT_EQ(reopened.getInteger("ComPort1", "Buffer.InputSize", 0), INT32_MIN);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"port.ini"}); // no temporary left
}

TEST(IniFileStore, IntegersReadInEveryIntegerFormAndBadOnesAreNamed) {
    TempDir dir;
    const std::string path = dir.file("port.ini");
    writeFile(path, "[P]\nhex=$400\ncee=0x10\nbad=12abc\nempty=\n");
    TIniFileStore store(path);
    EXPECT_EQ(store.getInteger("P", "hex", 0), 1024);
    EXPECT_EQ(store.getInteger("P", "cee", 0), 16);
    try {
        store.getInteger("P", "bad", 7);
        FAIL() << "a bad integer must not pass as the default";
    } catch (const EIniFileError& e) {
        EXPECT_NE(std::string(e.what()).find("'12abc' is not a valid integer for 'bad'"),
                  std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_THROW(store.getInteger("P", "empty", 7), EIniFileError);
}

TEST(IniFileStore, KeepsPermissionsAndSymbolicLinks) {
    TempDir dir;
    const std::string real = dir.file("real.ini");
    const std::string link = dir.file("link.ini");
    writeFile(real, "[Keep]\na=1\n");
    ::chmod(real.c_str(), 0640);
    std::filesystem::create_symlink("real.ini", link);

    TIniFileStore store(link);
    store.putText("ComPort1", "Port", "COM2");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(real), "[Keep]\na=1\n\n[ComPort1]\nPort=COM2\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniFileStore, AFailedWriteRaisesAndChangesNothing) {
    TempDir dir;
    // A file in a directory that does not exist cannot be written, even by root.
    TIniFileStore store(dir.file("missing/port.ini"));
    try {
        store.putText("ComPort1", "Port", "COM2");
        FAIL();
    } catch (const fw::EFileError& e) {
        EXPECT_EQ(e.errorCode(), ENOENT);
        EXPECT_NE(std::string(e.what()).find("missing/port.ini"), std::string::npos);
    }
    EXPECT_EQ(store.getText("ComPort1", "Port", "none"), "none");
    EXPECT_THROW(TIniFileStore{dir.path()}, fw::EFileError); // a directory is not a file
}

// A writer killed at random moments never leaves a torn file: the file always parses and holds
// one whole value that the writer put.
TEST(IniFileStore, AKilledWriterNeverLeavesATornFile) {
    TempDir dir;
    const std::string path = dir.file("port.ini");
    const std::string a(20000, 'a'), b(20000, 'b');
    for (int round = 0; round < 5; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            TIniFileStore store(path);
            for (int i = 0;; ++i)
                store.putText("S", "v", i % 2 ? a : b);
        }
        while (!std::filesystem::exists(path))
            ::usleep(1000);
        ::usleep(static_cast<useconds_t>(2000 + 3000 * round));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const auto value = IniDocument(readFile(path)).value("S", "v");
        ASSERT_TRUE(value == a || value == b) << "round " << round;
    }
}

TEST(IniFileStore, AnUpdateWritesTheFileOnceAtItsEnd) {
    TempDir dir;
    const std::string path = dir.file("port.ini");
    writeFile(path, "[ComPort1]\nPort=COM1\n");
    TIniFileStore store(path);
    store.beginUpdate();
    store.putText("ComPort1", "Port", "COM2");
    store.putInteger("ComPort1", "Buffer.InputSize", 512);
    EXPECT_EQ(readFile(path), "[ComPort1]\nPort=COM1\n");
    EXPECT_EQ(store.getText("ComPort1", "Port", ""), "COM2");
    store.endUpdate();
    EXPECT_EQ(readFile(path), "[ComPort1]\nPort=COM2\nBuffer.InputSize=512\n");
    store.putText("ComPort1", "Port", "COM3"); // written through again
    EXPECT_EQ(readFile(path), "[ComPort1]\nPort=COM3\nBuffer.InputSize=512\n");
}
