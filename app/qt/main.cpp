// The Torvin04/05 firmware updater: the main window and its message loop.

#include "app/CommandLine.h"
#include "app/qt/Dialogs.h"
#include "app/qt/FrameworkBridge.h"
#include "app/qt/Glyphs.h"
#include "app/qt/TForm1.h"
#include "frontend/UserLanguage.h"
#include "upload/ProgramVersion.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIcon>

namespace {

// The window's command line. Read twice: once before the window system is touched, so that
// --help and --version work without a display, and once by the application proper.
struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption port{QStringLiteral("port"), QString::fromUtf8(app::portOptionHelp),
                            QStringLiteral("NAME")};

    CommandLine() {
        parser.setApplicationDescription(QString::fromUtf8(app::programDescription));
        parser.addOption(port);
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QString::fromLatin1(app::programName));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(upload::programVersion()));
    {
        // Qt's own options (-platform, -display) are unknown here: whatever else is wrong is
        // told by the second reading, once the application has taken those away.
        int count = argc;
        const QCoreApplication plain(count, argv);
        CommandLine early;
        early.parser.parse(QCoreApplication::arguments());
        if (early.parser.isSet(early.help)) early.parser.showHelp(0);
        if (early.parser.isSet(QStringLiteral("help-all"))) early.parser.process(plain);
        if (early.parser.isSet(early.version)) early.parser.showVersion();
    }

    QApplication application(argc, argv);
    // The menu entry and icon installed with the package (torvin-updater.desktop).
    QApplication::setDesktopFileName(QStringLiteral("torvin-updater"));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("torvin-updater"), app::qt::uploadGlyph()));

    CommandLine commandLine;
    commandLine.parser.process(application);

    upload::frontend::useUserLanguage();
    app::qt::QtDialogs dialogs;
    app::qt::FrameworkBridge bridge(dialogs);
    app::qt::TForm1 form(dialogs, commandLine.parser.value(commandLine.port).toStdString());
    form.show();
    return QApplication::exec();
}
