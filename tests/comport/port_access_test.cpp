// The advice given when a port exists but the user may not open it.
#include "comport/PortAccess.h"
#include "tests/support/OtherUser.h"
#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(PortAccess, EachReasonGetsItsRemedy) {
    const comport::AccessFacts base{"/dev/ttyUSB0", "root", "dialout", true, "ana", false, false};
    struct Case {
        bool groupMayUse, userInGroup, sessionHasGroup;
        std::string remedy;
    } cases[] = {
        {true, false, false, "sudo usermod -aG dialout ana\nthen log out and log in again"},
        {true, true, false, "but this session started before you were added: log out and log in"},
        {false, false, false,
         "its group 'dialout' may not): an administrator must give a group read"},
        {true, true, true, "ask an administrator to look at the device"},
    };
    for (const auto& c : cases) {
        auto facts = base;
        facts.groupMayUse = c.groupMayUse;
        facts.userInGroup = c.userInGroup;
        facts.sessionHasGroup = c.sessionHasGroup;
        const std::string advice = comport::accessAdvice(facts);
        EXPECT_TRUE(advice.starts_with("You (user 'ana') may not open /dev/ttyUSB0.")) << advice;
        EXPECT_TRUE(contains(advice, c.remedy)) << advice;
    }
}

// On a real node: the group named is the node's, the user the one refused.
TEST(PortAccess, NamesTheDevicesGroupOnlyWhenAccessWasRefused) {
    testsupport::PtyPair pty;
    EXPECT_EQ(comport::accessAdvice(pty.path(), ENOENT), "");
    EXPECT_EQ(comport::accessAdvice("/dev/no-such-tty", EACCES), "");
    if (!testsupport::AsNobody::possible()) GTEST_SKIP() << "needs root to act as nobody";

    const std::string group = testsupport::openToGroupOnly(pty.path());
    testsupport::AsNobody nobody;
    ASSERT_EQ(::open(pty.path().c_str(), O_RDWR | O_NOCTTY), -1);
    ASSERT_EQ(errno, EACCES);
    EXPECT_TRUE(contains(comport::accessAdvice(pty.path(), EACCES),
                         "sudo usermod -aG " + group + " " + testsupport::AsNobody::userName()));
}

} // namespace
