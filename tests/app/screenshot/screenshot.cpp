// Takes pictures of the windows as a display draws them (run under xvfb-run), so that anyone can
// look at the layout: the start-up warning, the main window at start and during a run, an upload
// message box, a change log.

#include "app/qt/Dialogs.h"
#include "app/qt/TForm1.h"
#include "app/qt/TForm2.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

bool shoot(QWidget& window, const QString& path);

// The real boxes; each one is photographed and then dismissed, as the user would.
class PhotographedDialogs : public app::qt::Dialogs {
public:
    explicit PhotographedDialogs(const QDir& out) : out_(out) {}
    bool ok = true;

    void information(QWidget* parent, const QString& caption, const QString& text) override {
        dismissLater(QStringLiteral("startup-warning.png"));
        real_.information(parent, caption, text);
    }
    void message(QWidget* parent, const QString& caption, const QString& text) override {
        dismissLater(QStringLiteral("message-box.png"));
        real_.message(parent, caption, text);
    }
    void error(QWidget* parent, const QString& caption, const QString& text) override {
        dismissLater(QStringLiteral("error-box.png"));
        real_.error(parent, caption, text);
    }

private:
    void dismissLater(const QString& name) {
        QTimer::singleShot(0, [this, name] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box) {
                std::fprintf(stderr, "screenshot: no box on the display for %s\n",
                             qPrintable(name));
                ok = false;
                return;
            }
            ok = shoot(*box, out_.filePath(name)) && ok;
            box->close();
        });
    }

    QDir out_;
    app::qt::QtDialogs real_;
};

bool shoot(QWidget& window, const QString& path) {
    if (!QTest::qWaitForWindowExposed(&window, 5000)) {
        std::fprintf(stderr, "screenshot: %s never appeared on the display\n", qPrintable(path));
        return false;
    }
    QTest::qWait(200); // let the first paint reach the screen
    const QPixmap picture = window.screen()->grabWindow(window.winId());
    if (picture.isNull() || !picture.save(path)) {
        std::fprintf(stderr, "screenshot: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("screenshot: %s (%dx%d)\n", qPrintable(path), picture.width(), picture.height());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "screenshot: cannot create %s\n", argv[1]);
        return 1;
    }

    PhotographedDialogs dialogs(out);
    app::qt::TForm1 form(dialogs);
    form.show();
    bool ok = shoot(form, out.filePath(QStringLiteral("main-window.png")));

    // The same window part-way through a run.
    form.form().setBitBtn2Caption("Iniciar");
    form.form().setLabel2("1974");
    form.form().setLabel4("2");
    form.form().setLabel7("812");
    form.form().setLabel8("1");
    form.form().setProgressBar1(812 * 100 / 1974);
    form.form().setLampColor(0x00FF00);
    form.form().setBitBtn6Enabled(false);
    ok = shoot(form, out.filePath(QStringLiteral("main-window-running.png"))) && ok;

    form.form().showMessage("PLACA NÃO RESPONDE !");

    form.Button1->click();
    ok = shoot(*form.changeLogs().front(), out.filePath(QStringLiteral("change-log.png"))) && ok;
    return ok && dialogs.ok ? 0 : 1;
}
