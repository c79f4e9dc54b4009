// The window's options as the Windows program reads them (the Qt program uses Qt's parser with
// the same texts).

#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowCommandLine, OptionsAndTheirFaults) {
    using app::CommandLine;
    struct Case {
        std::vector<std::string> args;
        CommandLine::Action action;
        std::string port;
        std::string error;
    };
    const Case cases[] = {
        {{}, CommandLine::Run, "", ""},
        {{"--port", "COM4"}, CommandLine::Run, "COM4", ""},
        {{"--port=COM12", "--port", "COM3"}, CommandLine::Run, "COM3", ""},
        {{"--port", "COM4", "-h"}, CommandLine::Help, "", ""},
        {{"--version", "--bogus"}, CommandLine::Version, "", ""},
        {{"--port"}, CommandLine::Fail, "", "Missing value after '--port'."},
        {{"--bogus"}, CommandLine::Fail, "", "Unknown option 'bogus'."},
        {{"COM4"}, CommandLine::Fail, "", "Unexpected argument 'COM4'."},
    };
    for (const Case& c : cases) {
        const CommandLine got = app::parseCommandLine(c.args);
        EXPECT_EQ(got.action, c.action) << testing::PrintToString(c.args);
        EXPECT_EQ(got.port, c.port) << testing::PrintToString(c.args);
        EXPECT_EQ(got.error, c.error) << testing::PrintToString(c.args);
    }
    EXPECT_NE(app::helpText().find("--port <NAME>"), std::string::npos);
    EXPECT_EQ(app::versionText().rfind("torvin-updater ", 0), 0u);
}

} // namespace
