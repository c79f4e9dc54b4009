// The Torvin04/05 firmware updater: the main window and its message loop.

#include "app/Dialogs.h"
#include "app/FrameworkBridge.h"
#include "app/Glyphs.h"
#include "app/TForm1.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("torvin-updater"));
    // The menu entry and icon installed with the package (torvin-updater.desktop).
    QApplication::setDesktopFileName(QStringLiteral("torvin-updater"));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("torvin-updater"), app::uploadGlyph()));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes the firmware into a Torvin04/05 board through its Monitor."));
    parser.addHelpOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Adds NAME (a device path or COMn) to the port list and selects it."),
        QStringLiteral("NAME"));
    parser.addOption(portOption);
    parser.process(application);

    app::QtDialogs dialogs;
    app::FrameworkBridge bridge(dialogs);
    app::TForm1 form(dialogs, parser.value(portOption).toStdString());
    form.show();
    return QApplication::exec();
}
