// What a run leaves for the next on a port: read back as written, and taken as hostile input, since
// the folder may be a shared one: nothing is followed, waited on or believed beyond reason.
#include "tests/support/TempDir.h"
#include "tests/support/TextFiles.h"
#include "upload/frontend/OwedFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using upload::frontend::OwedFile;

namespace {

struct Runtime {
    testsupport::TempDir dir;
    std::vector<std::string> warnings;
    Runtime() { ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1); }
    ~Runtime() { ::unsetenv("XDG_RUNTIME_DIR"); }
    std::string fileFor(const std::string& port) const { return dir.file(OwedFile::nameFor(port)); }
    OwedFile::Warn warn() {
        return [this](const std::string& text) { warnings.push_back(text); };
    }
};

} // namespace

TEST(OwedFile, WhatOneRunKeepsTheNextReadsForTheSameDeviceOnly) {
    Runtime runtime;
    OwedFile(runtime.warn()).keep("/dev/ttyUSB7", 30s);
    const auto left = OwedFile(runtime.warn()).read("/dev/ttyUSB7");
    EXPECT_GT(left, 28s);
    EXPECT_LE(left, 30s);
    EXPECT_EQ(OwedFile(runtime.warn()).read("/dev/ttyUSB8"), 0s);
    EXPECT_TRUE(runtime.warnings.empty());
}

TEST(OwedFile, WhatStandsInTheFilesPlaceIsNeitherFollowedNorWaitedOnNorBelieved) {
    const std::string port = "/dev/ttyUSB7";
    struct Case {
        const char* name;
        std::function<void(const std::string& path, const std::string& elsewhere)> make;
        std::chrono::nanoseconds read; // what a run then finds owed
    };
    const Case cases[] = {
        {"a link to a file of the owed form",
         [](const std::string& path, const std::string& elsewhere) {
             std::ofstream(elsewhere) << OwedFile::line(INT64_MAX / 2);
             ASSERT_EQ(::symlink(elsewhere.c_str(), path.c_str()), 0);
         },
         0s},
        {"a named pipe without a writer",
         [](const std::string& path, const std::string&) {
             ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
         },
         0s},
        {"text of another form",
         [](const std::string& path, const std::string&) {
             std::ofstream(path) << "torvin owed-until-ms 99999999999999999999999\n";
         },
         0s},
        {"a time years ahead",
         [](const std::string& path, const std::string&) {
             std::ofstream(path) << OwedFile::line(INT64_MAX / 2);
         },
         OwedFile::longest},
    };
    for (const Case& c : cases) {
        Runtime runtime;
        const std::string path = runtime.fileFor(port), elsewhere = runtime.dir.file("elsewhere");
        c.make(path, elsewhere);
        EXPECT_EQ(OwedFile(runtime.warn()).read(port), c.read) << c.name;
        const std::string before = testsupport::readFile(elsewhere);
        OwedFile(runtime.warn()).keep(port, 5s);
        EXPECT_EQ(testsupport::readFile(elsewhere), before) << c.name << ": written through";
        EXPECT_EQ(runtime.warnings.empty(), c.read == OwedFile::longest) << c.name;
    }
}
