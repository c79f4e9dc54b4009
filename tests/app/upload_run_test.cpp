// Upload runs through the window, with the real port component on pseudo-terminals.

#include "EventPump.h"
#include "FakeDialogs.h"

#include "app/qt/FrameworkBridge.h"
#include "app/qt/TForm1.h"
#include "app/qt/TPanel.h"
#include "app/qt/TShape.h"
#include "app/qt/TTimer.h"
#include "comport/ComErrors.h"
#include "comport/ComPort.h"
#include "tests/support/OtherUser.h"
#include "tests/support/Pty.h"
#include "upload/UploadLogic.h"
#ifdef MONITOR_SIM_PATH
#include "tests/support/MonitorSimProcess.h"
#include "tests/support/TempDir.h"
#endif

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

QString str(const char* utf8) {
    return QString::fromUtf8(utf8);
}

struct UploadRunTest : ::testing::Test {
    FakeDialogs dialogs;
    app::qt::FrameworkBridge bridge{dialogs};

    bool messageShown(const char* text) const {
        for (const auto& t : dialogs.texts(FakeDialogs::Message))
            if (t == str(text)) return true;
        return false;
    }
};

TEST_F(UploadRunTest, AWholeRunAgainstTheSimulatedBoardCompletes) {
#ifndef MONITOR_SIM_PATH
    GTEST_SKIP() << "monitor-sim is not built";
#else
    testsupport::TempDir dir;
    const std::string saved = dir.file("board.hex");
    testsupport::MonitorSimProcess sim(MONITOR_SIM_PATH, {"--save", saved});
    ASSERT_FALSE(sim.serialPath().empty()) << sim.errorOutput();

    app::qt::TForm1 form(dialogs, sim.serialPath());
    form.show();
    form.BitBtn2->click();
    ASSERT_TRUE(dialogs.texts(FakeDialogs::Error).empty())
        << dialogs.texts(FakeDialogs::Error).front().toStdString();
    EXPECT_EQ(form.BitBtn2->text(), str("Iniciar"));
    EXPECT_EQ(form.Shape1->BrushColor(), 0x00FF00u);
    EXPECT_EQ(form.Label2->text(), str("1974"));

    form.BitBtn2->click();
    EXPECT_FALSE(form.BitBtn6->isEnabled()) << "the close button stays off during a run";
    EXPECT_FALSE(form.close()) << "the window manager cannot close the window during a run";
    form.Button1->click(); // a change log opened during the run does not disturb it

    // The run ends with a message box, whichever way it ends.
    ASSERT_TRUE(pumpUntil([&] { return !dialogs.texts(FakeDialogs::Message).empty(); }, 180s))
        << "still at record " << form.Label7->text().toStdString();
    ASSERT_TRUE(messageShown("TRANSMISSÃO CONCLUIDA !!"))
        << dialogs.texts(FakeDialogs::Message).front().toStdString() << " at record "
        << form.Label7->text().toStdString() << "; " << sim.errorOutput();
    EXPECT_EQ(form.ProgressBar1->value(), 100);
    EXPECT_EQ(form.Label7->text(), str("1974"));
    EXPECT_EQ(form.Label8->text(), str("0"));
    EXPECT_FALSE(form.BitBtn2->isEnabled());
    EXPECT_TRUE(form.BitBtn6->isEnabled());
    EXPECT_FALSE(form.Timer1->Enabled());
    EXPECT_EQ(dialogs.texts(FakeDialogs::Message).size(), 1u);
    EXPECT_TRUE(dialogs.texts(FakeDialogs::Error).empty());

    form.BitBtn6->click();
    EXPECT_FALSE(form.ComPort1->Connected());
    EXPECT_FALSE(form.isVisible());

    // The board's memory holds the image, byte for byte.
    sim.stop();
    EXPECT_EQ(testsupport::runCommand("srec_cmp '" + saved +
                                      "' -intel '" FIRMWARE_HEX_PATH "' -intel >/dev/null 2>&1"),
              0);
#endif
}

// The board goes mid-run: the component's message, then the device's words, what to do and the
// warning that the board may now hold part of the firmware.
TEST_F(UploadRunTest, ABoardThatVanishesMidRunSaysTheFirmwareMayBeIncomplete) {
#ifndef MONITOR_SIM_PATH
    GTEST_SKIP() << "monitor-sim is not built";
#else
    testsupport::MonitorSimProcess sim(MONITOR_SIM_PATH, {"--vanish", "20"});
    ASSERT_FALSE(sim.serialPath().empty()) << sim.errorOutput();
    app::qt::TForm1 form(dialogs, sim.serialPath());
    form.show();
    form.BitBtn2->click();
    form.BitBtn2->click();
    ASSERT_TRUE(pumpUntil([&] { return !dialogs.texts(FakeDialogs::Error).empty(); }, 60s))
        << "still at record " << form.Label7->text().toStdString();
    const std::string text = dialogs.texts(FakeDialogs::Error).front().toStdString();
    EXPECT_TRUE(text.find(" function failed (Error: ") != std::string::npos) << text;
    EXPECT_TRUE(text.find("\n\nPort " + sim.serialPath() + ": ") != std::string::npos) << text;
    EXPECT_TRUE(text.find("\nThe line to the board broke off") != std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("\nThe board may hold an incomplete firmware: run the upload again "
                               "before using it."))
        << text;
#endif
}

// The line breaks mid-run and the board comes back on the same port: the window closes the port as
// a failed run does (white lamp, "Iniciar"), reopens it on the next press, and the run after that
// leaves the board holding the image.
TEST_F(UploadRunTest, AfterTheLineBreaksMidRunTheNextRunFlashesTheBoardExactly) {
#ifndef MONITOR_SIM_PATH
    GTEST_SKIP() << "monitor-sim is not built";
#else
    testsupport::TempDir dir;
    const std::string link = dir.file("board-link");
    const std::string saved = dir.file("board.hex");
    auto sim = std::make_unique<testsupport::MonitorSimProcess>(
        MONITOR_SIM_PATH, std::vector<std::string>{"--link", link, "--vanish", "20"});
    ASSERT_FALSE(sim->serialPath().empty()) << sim->errorOutput();
    app::qt::TForm1 form(dialogs, link);
    form.show();
    form.BitBtn2->click();
    form.BitBtn2->click();
    ASSERT_TRUE(pumpUntil([&] { return !dialogs.texts(FakeDialogs::Error).empty(); }, 60s));
    ASSERT_TRUE(pumpUntil([&] { return form.Shape1->BrushColor() == 0xFFFFFFu; }, 5s));
    EXPECT_EQ(form.BitBtn2->text(), str("Iniciar"));
    EXPECT_TRUE(form.BitBtn6->isEnabled());
    sim.reset();

    sim = std::make_unique<testsupport::MonitorSimProcess>(
        MONITOR_SIM_PATH, std::vector<std::string>{"--link", link, "--save", saved});
    ASSERT_FALSE(sim->serialPath().empty()) << sim->errorOutput();
    form.BitBtn2->click(); // opens the port again
    EXPECT_EQ(form.Shape1->BrushColor(), 0x00FF00u);
    form.BitBtn2->click();
    ASSERT_TRUE(pumpUntil([&] { return !dialogs.texts(FakeDialogs::Message).empty(); }, 180s))
        << "still at record " << form.Label7->text().toStdString();
    const auto errors = dialogs.texts(FakeDialogs::Error);
    ASSERT_EQ(errors.size(), 1u) << errors.back().toStdString();
    ASSERT_TRUE(messageShown("TRANSMISSÃO CONCLUIDA !!"))
        << dialogs.texts(FakeDialogs::Message).front().toStdString();
    sim->stop();
    EXPECT_EQ(testsupport::runCommand("srec_cmp '" + saved +
                                      "' -intel '" FIRMWARE_HEX_PATH "' -intel >/dev/null 2>&1"),
              0);
#endif
}

TEST_F(UploadRunTest, ABoardThatNeverAnswersTurnsTheLampWhite) {
    testsupport::PtyPair line; // nobody answers on the far end
    app::qt::TForm1 form(dialogs, line.path());
    form.show();
    form.BitBtn2->click();
    ASSERT_EQ(form.Shape1->BrushColor(), 0x00FF00u);
    form.BitBtn2->click();

    // The real retry timer: four re-sends a second apart, then the fifth tick gives up.
    ASSERT_TRUE(pumpUntil([&] { return !dialogs.texts(FakeDialogs::Message).empty(); }, 20s));
    ASSERT_TRUE(messageShown("PLACA NÃO RESPONDE !"));
    EXPECT_EQ(form.Shape1->BrushColor(), 0xFFFFFFu);
    EXPECT_EQ(form.BitBtn2->text(), str("Iniciar"));
    EXPECT_TRUE(form.BitBtn2->isEnabled());
    EXPECT_TRUE(form.BitBtn6->isEnabled());
    EXPECT_EQ(form.Label4->text(), str("5"));
    EXPECT_FALSE(form.ComPort1->Connected());
    EXPECT_FALSE(form.Timer1->Enabled());
    // The command went out five times in all, and nothing else.
    EXPECT_EQ(line.drain(), "(%P31)(%P31)(%P31)(%P31)(%P31)");
}

// After a run the board never answered, the next run first waits for the answers it may still
// give: the title panel says so, and the close button ends the wait with nothing sent.
TEST_F(UploadRunTest, TheWaitForAnEarlierRunsAnswersIsShownAndCanBeClosed) {
    testsupport::PtyPair line; // nobody answers on the far end
    app::qt::TForm1 form(dialogs, line.path());
    form.show();
    form.BitBtn2->click();
    form.BitBtn2->click();
    ASSERT_TRUE(pumpUntil([&] { return messageShown("PLACA NÃO RESPONDE !"); }, 20s));
    line.drain();
    form.BitBtn2->click(); // opens the port again
    form.BitBtn2->click();
    EXPECT_TRUE(form.Panel1->Caption().startsWith(str("Aguardando respostas anteriores: ")))
        << form.Panel1->Caption().toStdString();
    ASSERT_TRUE(form.BitBtn6->isEnabled());
    form.BitBtn6->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.ComPort1->Connected());
    EXPECT_EQ(line.drain(), "");
}

TEST_F(UploadRunTest, APortThatCannotBeOpenedShowsTheComponentsMessage) {
    const std::string missing = "/nonexistent/ttyTorvin";
    // What the component itself says about this port.
    std::string expected;
    {
        comport::TComPort probe;
        probe.setPort(missing);
        try {
            probe.openPort();
        } catch (const comport::EComPort& e) {
            expected = e.what();
        }
    }
    ASSERT_FALSE(expected.empty());

    app::qt::TForm1 form(dialogs, missing);
    form.show();
    form.BitBtn2->click();
    const auto errors = dialogs.texts(FakeDialogs::Error);
    ASSERT_EQ(errors.size(), 1u);
    // The component's message as it stands, then the port with the system's words, and what to
    // do about it.
    EXPECT_EQ(errors.front().toStdString(),
              expected + "\n\nPort " + missing +
                  ": No such file or directory.\nThis computer has no port of that name.\n"
                  "Check that the board's cable is on this port, "
                  "or choose another port in the list.");
    EXPECT_EQ(form.BitBtn2->text(), str("Abre Porta"));
    EXPECT_EQ(form.Label2->text(), str("0"));
    EXPECT_EQ(form.Shape1->BrushColor(), 0xFFFFFFu);
    EXPECT_FALSE(form.ComPort1->Connected());
    // The program goes on: the window still takes presses.
    form.BitBtn2->click();
    EXPECT_EQ(dialogs.texts(FakeDialogs::Error).size(), 2u);
}

TEST_F(UploadRunTest, APortRefusedForLackOfPermissionSaysHowToGetIt) {
    if (!testsupport::AsNobody::possible()) GTEST_SKIP() << "needs root to act as nobody";
    testsupport::PtyPair pty;
    const std::string group = testsupport::openToGroupOnly(pty.path());
    app::qt::TForm1 form(dialogs, pty.path());
    form.show();
    {
        testsupport::AsNobody nobody;
        form.BitBtn2->click();
    }
    const auto errors = dialogs.texts(FakeDialogs::Error);
    ASSERT_EQ(errors.size(), 1u);
    const std::string text = errors.front().toStdString();
    EXPECT_TRUE(text.starts_with("Unable to open com port (Error: 13)\n\nPort " + pty.path() +
                                 ": Permission denied.\nYou (user '" +
                                 testsupport::AsNobody::userName() + "') may not open " +
                                 pty.path()))
        << text;
    EXPECT_NE(text.find("sudo usermod -aG " + group + " "), std::string::npos) << text;
    EXPECT_FALSE(form.ComPort1->Connected());
}

TEST_F(UploadRunTest, PortCarriesTheStoredSettings) {
    app::qt::TForm1 form(dialogs);
    const comport::TComPort& port = *form.ComPort1;
    EXPECT_FALSE(port.loading());
    EXPECT_EQ(port.BaudRate(), comport::br9600);
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.Parity().Bits(), comport::prNone);
    EXPECT_EQ(port.StopBits(), comport::sbOneStopBit);
    EXPECT_EQ(port.DataBits(), comport::dbEight);
    EXPECT_EQ(port.Events(), comport::allComEvents);
    EXPECT_EQ(port.FlowControl().ControlDTR(), comport::dtrDisable);
    EXPECT_EQ(port.FlowControl().ControlRTS(), comport::rtsDisable);
    EXPECT_FALSE(port.FlowControl().OutCTSFlow());
    EXPECT_FALSE(port.FlowControl().XonXoffIn());
    EXPECT_EQ(port.StoredProps(), comport::TStoredProps{comport::spBasic});
    EXPECT_TRUE(port.TriggersOnRxChar());
    EXPECT_TRUE(port.OnRxChar.assigned());
    EXPECT_TRUE(port.OnAfterOpen.assigned());
    EXPECT_FALSE(port.OnException.assigned());
    EXPECT_EQ(form.upload().totalRecords(), 1974);
}

// The window gives up on a board that still owes it answers (its quiet time grown to 7.2 s, record
// 5 answered 5.5 s late, then its other copies 2.5 s apart) and is closed; the next window on the
// port must not take those answers for its own (record 6 is refused twice: an answer taken for the
// wrong item skips a refusal), and ends with the board holding the image.
TEST_F(UploadRunTest, ARunAfterAFailedOneWhileItsAnswersStillComeLosesNoRecord) {
#ifndef MONITOR_SIM_PATH
    GTEST_SKIP() << "monitor-sim is not built";
#else
    testsupport::TempDir dir;
    const std::string saved = dir.file("board.hex");
    testsupport::MonitorSimProcess sim(MONITOR_SIM_PATH,
                                       {"--save", saved, "--keep-answers", "--reject", "6:2",
                                        "--late", "3:1:1500", "--late", "3:2:1900", "--late",
                                        "5:1:5500", "--late", "5:2:2500", "--late", "5:3:2500",
                                        "--late", "5:4:2500", "--late", "5:5:2500"});
    ASSERT_FALSE(sim.serialPath().empty()) << sim.errorOutput();
    {
        app::qt::TForm1 failed(dialogs, sim.serialPath());
        failed.show();
        failed.BitBtn2->click();
        failed.BitBtn2->click();
        ASSERT_TRUE(pumpUntil([&] { return !dialogs.texts(FakeDialogs::Message).empty(); }, 60s));
        ASSERT_TRUE(messageShown("PLACA NÃO RESPONDE !"));
        failed.BitBtn6->click();
    }
    app::qt::TForm1 form(dialogs, sim.serialPath());
    form.show();
    form.BitBtn2->click();
    form.BitBtn2->click();
    ASSERT_TRUE(pumpUntil([&] { return dialogs.texts(FakeDialogs::Message).size() == 2; }, 240s))
        << "still at record " << form.Label7->text().toStdString();
    EXPECT_TRUE(messageShown("TRANSMISSÃO CONCLUIDA !!"));
    sim.stop();
    EXPECT_EQ(testsupport::runCommand("srec_cmp '" + saved +
                                      "' -intel '" FIRMWARE_HEX_PATH "' -intel >/dev/null 2>&1"),
              0);
#endif
}

} // namespace
