// What one torvin-upload run leaves owed on a device is waited out by the next, whoever runs it,
// with whatever environment and by whatever name of the device: the board's memory after the
// second run, compared with the image by Debian's srec_cmp.
#include "frontend/OwedFile.h"
#include "tests/support/MonitorSimProcess.h"
#include "tests/support/OtherUser.h"
#include "tests/support/TempDir.h"
#include "tests/support/TextFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using testsupport::runCommand;

TEST(OwedStateProcess, ARunByAnotherUserUnderAnotherNameWaitsForTheAnswersOwedToTheFirst) {
    if (!testsupport::AsNobody::possible()) GTEST_SKIP() << "needs root, to be another user";
    testsupport::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0); // the image, for the second user
    const std::string image = dir.file("short.hex"), saved = dir.file("board.hex");
    ASSERT_EQ(runCommand("head -8 '" FIRMWARE_HEX_PATH "' >'" + image + "'"), 0);
    // The quiet time grows to 7.2 s, then record 5 goes unanswered for 5.5 s, its other copies
    // 2.5 s apart: the first run gives up on it while the board still owes it four answers. The
    // board refuses record 6 twice: an answer taken for the wrong item skips a refusal.
    std::vector<std::string> arguments;
    for (const char* late :
         {"3:1:1500", "3:2:1900", "5:1:5500", "5:2:2500", "5:3:2500", "5:4:2500", "5:5:2500"})
        arguments.insert(arguments.end(), {"--late", late});
    arguments.insert(arguments.end(), {"--keep-answers", "--reject", "6:2", "--save", saved});
    testsupport::MonitorSimProcess board(MONITOR_SIM_PATH, arguments);
    const std::string device = board.serialPath(), link = dir.file("by-id-link");
    ASSERT_EQ(::chmod(device.c_str(), 0666), 0);
    ASSERT_EQ(::symlink(device.c_str(), link.c_str()), 0);

    // Root, by a link, with a runtime folder of its own; then nobody, by the device's own name,
    // with none.
    testsupport::TempDir runtime;
    EXPECT_EQ(runCommand("XDG_RUNTIME_DIR='" + runtime.path() + "' timeout -k 5 60 " +
                         TORVIN_UPLOAD_PATH + " --port '" + link + "' --quiet --image '" + image +
                         "' >/dev/null 2>&1"),
              2);
    const std::string out = dir.file("out"), err = dir.file("err");
    EXPECT_EQ(runCommand("env -u XDG_RUNTIME_DIR setpriv --reuid=65534 --regid=65534 "
                         "--clear-groups timeout -k 5 90 " TORVIN_UPLOAD_PATH " --port '" +
                         device + "' --image '" + image + "' >'" + out + "' 2>'" + err + "'"),
              0)
        << testsupport::readFile(out) << testsupport::readFile(err);
    EXPECT_TRUE(testsupport::readFile(out).ends_with("\nTRANSMISSÃO CONCLUIDA !!\n"));
    board.stop();
    {
        // What nobody leaves, another test's board on a terminal of this name does not owe.
        testsupport::AsNobody nobody;
        upload::frontend::OwedFile().keep(device, {});
    }
    EXPECT_EQ(runCommand("srec_cmp '" + saved + "' -intel '" + image + "' -intel >/dev/null"), 0);
}
