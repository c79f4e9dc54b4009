#include "FakeDialogs.h"

#include "app/Texts.h"
#include "app/qt/Dialogs.h"
#include "app/qt/TForm1.h"
#include "app/qt/TForm2.h"
#include "app/qt/TPanel.h"
#include "app/qt/TShape.h"
#include "app/qt/TTimer.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QString str(const char* utf8) {
    return QString::fromUtf8(utf8);
}

struct Form1Test : ::testing::Test {
    FakeDialogs dialogs;
};

TEST_F(Form1Test, WindowIsFixedCentredAndHasNoTitleBarButtons) {
    app::qt::TForm1 form(dialogs);
    form.show();
    EXPECT_EQ(form.windowTitle(), str("       Tarnic V1.3  Monitor 4.0"));
    EXPECT_EQ(form.size(), QSize(590, 263));
    EXPECT_EQ(form.minimumSize(), QSize(590, 263));
    EXPECT_EQ(form.maximumSize(), QSize(590, 263));

    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    for (Qt::WindowType button :
         {Qt::WindowSystemMenuHint, Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint,
          Qt::WindowCloseButtonHint, Qt::WindowContextHelpButtonHint})
        EXPECT_FALSE(flags.testFlag(button)) << button;

    const QRect screen = form.screen()->availableGeometry();
    EXPECT_LE(std::abs(form.frameGeometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(form.frameGeometry().center().y() - screen.center().y()), 1);
}

TEST_F(Form1Test, ControlsSitAtTheirPlacesWithTheirSizes) {
    app::qt::TForm1 form(dialogs);
    struct Place {
        QWidget* control;
        QWidget* parent;
        QRect rect; // an empty size means "sized to its text"
    };
    const std::vector<Place> places = {
        {form.Panel1, &form, {8, 8, 577, 41}},
        {form.Button1, form.Panel1, {400, 8, 41, 25}},
        {form.Shape1, form.Panel1, {448, 8, 18, 18}},
        {form.ComboBox1, form.Panel1, {473, 8, 89, 28}},
        {form.BitBtn2, &form, {410, 56, 175, 42}},
        {form.BitBtn6, &form, {410, 108, 175, 42}},
        {form.Panel2, &form, {8, 56, 393, 97}},
        {form.Label1, form.Panel2, {16, 16, 0, 0}},
        {form.Label2, form.Panel2, {106, 16, 0, 0}},
        {form.Label3, form.Panel2, {16, 40, 0, 0}},
        {form.Label4, form.Panel2, {106, 40, 0, 0}},
        {form.Label5, form.Panel2, {184, 16, 0, 0}},
        {form.Label7, form.Panel2, {272, 16, 0, 0}},
        {form.Label6, form.Panel2, {184, 40, 0, 0}},
        {form.Label8, form.Panel2, {272, 40, 0, 0}},
        {form.ProgressBar1, &form, {24, 120, 353, 16}},
        {form.RichEdit1, &form, {8, 136, 361, 17}},
        {form.Label9, &form, {16, 160, 0, 0}},
        {form.Label11, &form, {48, 176, 0, 0}},
        {form.Label12, &form, {40, 192, 0, 0}},
        {form.Label13, &form, {120, 208, 0, 0}},
        {form.Label10, &form, {184, 232, 0, 0}},
    };
    for (const auto& p : places) {
        SCOPED_TRACE(p.control->objectName().toStdString());
        EXPECT_EQ(p.control->parentWidget(), p.parent);
        EXPECT_EQ(p.control->pos(), p.rect.topLeft());
        if (p.rect.width() > 0) {
            EXPECT_EQ(p.control->size(), p.rect.size());
        } else {
            // Labels size themselves to their text, which must fit inside the window.
            const QRect inWindow(p.control->mapTo(&form, QPoint(0, 0)), p.control->size());
            EXPECT_TRUE(form.rect().contains(inWindow));
            EXPECT_GE(p.control->width(), p.control->sizeHint().width());
        }
    }
    // The progress bar lies over the counters' panel.
    EXPECT_TRUE(form.Panel2->geometry().contains(form.ProgressBar1->geometry()));
}

TEST_F(Form1Test, CaptionsFontsAndColours) {
    app::qt::TForm1 form(dialogs);
    EXPECT_EQ(form.Panel1->Caption(),
              str("Atualizador Torvin04/05   -  v A.3  28/10/15") + QString(29, QChar(' ')));
    EXPECT_EQ(form.Button1->text(), str("log"));
    EXPECT_EQ(form.BitBtn2->text(), str("Abre Porta"));
    EXPECT_EQ(form.BitBtn6->text(), str("&Close"));
    EXPECT_FALSE(form.BitBtn6->icon().isNull());
    EXPECT_EQ(form.Label1->text(), str("Número: "));
    EXPECT_EQ(form.Label3->text(), str("Tentativas:"));
    EXPECT_EQ(form.Label5->text(), str("Registro: "));
    EXPECT_EQ(form.Label6->text(), str("Erros : "));
    EXPECT_TRUE(form.Label10->text().contains(str("18F452")));
    for (QLabel* l : {form.Label9, form.Label11, form.Label12, form.Label13})
        EXPECT_FALSE(l->text().trimmed().isEmpty()) << l->objectName().toStdString();

    // A sans-serif stands in for MS Sans Serif where the machine lacks it.
    EXPECT_EQ(form.font().family(), str("MS Sans Serif"));
    EXPECT_EQ(form.font().pointSize(), 8);
    EXPECT_FALSE(QFontInfo(form.font()).fixedPitch());
    EXPECT_EQ(form.Panel1->font().pointSize(), 14);
    EXPECT_TRUE(form.Panel1->font().bold());
    for (QWidget* w : std::initializer_list<QWidget*>{form.Label1, form.Label2, form.Label3,
                                                      form.Label4, form.Label5, form.Label6,
                                                      form.Label7, form.Label8, form.ComboBox1}) {
        EXPECT_EQ(w->font().pointSize(), 12) << w->objectName().toStdString();
        EXPECT_TRUE(w->font().bold()) << w->objectName().toStdString();
    }
    EXPECT_TRUE(form.Label10->font().bold());
    EXPECT_EQ(form.Label9->font().pointSize(), 8);
    EXPECT_FALSE(form.Label9->font().bold());

    // The counters as they are drawn: the label's text must show in its colour. Bold 12 pt
    // glyphs have solid stems, so some pixels carry the exact colour.
    form.show();
    const QImage window = form.grab().toImage();
    auto inkOf = [&window, &form](QLabel* l, QRgb colour) {
        const QRect r(l->mapTo(&form, QPoint(0, 0)), l->size());
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += (window.pixel(x, y) & 0xFFFFFF) == colour;
        return n;
    };
    const std::pair<QLabel*, QRgb> inks[] = {{form.Label1, 0x008000}, {form.Label2, 0x008000},
                                             {form.Label3, 0xFF0000}, {form.Label4, 0xFF0000},
                                             {form.Label5, 0x000080}, {form.Label7, 0x000080},
                                             {form.Label6, 0xFF0000}, {form.Label8, 0xFF0000}};
    for (const auto& ink : inks)
        EXPECT_GE(inkOf(ink.first, ink.second), 4) << ink.first->objectName().toStdString();

    // Two pictures on the start button: the disabled one is drawn apart, not derived.
    const QIcon glyph = form.BitBtn2->icon();
    EXPECT_NE(glyph.pixmap(28, 28, QIcon::Normal).toImage(),
              glyph.pixmap(28, 28, QIcon::Disabled).toImage());
    EXPECT_EQ(glyph.availableSizes(QIcon::Disabled).size(), 1);

    EXPECT_EQ(form.Shape1->PenColor(), 0x008000u);
    EXPECT_TRUE(form.Shape1->testAttribute(Qt::WA_TransparentForMouseEvents));
}

// The title's words end clear of the "log" button, whatever font stands in for MS Sans Serif.
TEST_F(Form1Test, TitleTextStaysClearOfTheLogButton) {
    app::qt::TForm1 form(dialogs);
    form.show();
    const QImage panel = form.Panel1->grab().toImage();
    const QRgb ink = form.Panel1->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF;
    int touching = 0;
    for (int x = form.Button1->x() - 4; x < form.Button1->x(); ++x)
        for (int y = 2; y < panel.height() - 2; ++y)
            touching += (panel.pixel(x, y) & 0xFFFFFF) == ink;
    EXPECT_EQ(touching, 0);
}

// Boxes are wide enough for the program's title with its leading spaces.
TEST_F(Form1Test, RealBoxesShowTheirWholeCaption) {
    app::qt::QtDialogs real;
    int width = 0;
    QTimer::singleShot(0, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            width = box->width();
            box->close();
        }
    });
    real.message(nullptr, QString::fromUtf8(app::programTitle), str("PLACA NÃO RESPONDE !"));
    EXPECT_GE(width, app::qt::boxWidthForCaption(QString::fromUtf8(app::programTitle)));
}

TEST_F(Form1Test, StartStateBeforeAnyPress) {
    app::qt::TForm1 form(dialogs);
    form.show();
    EXPECT_EQ(form.Shape1->BrushColor(), 0xFFFFFFu);
    for (QLabel* l : {form.Label2, form.Label4, form.Label7, form.Label8})
        EXPECT_EQ(l->text(), str("0")) << l->objectName().toStdString();
    EXPECT_EQ(form.ProgressBar1->minimum(), 0);
    EXPECT_EQ(form.ProgressBar1->maximum(), 100);
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    EXPECT_TRUE(form.BitBtn2->isEnabled());
    EXPECT_TRUE(form.BitBtn6->isEnabled());
    EXPECT_FALSE(form.Timer1->Enabled());
    EXPECT_EQ(form.Timer1->Interval(), 1000);
    EXPECT_FALSE(form.RichEdit1->isVisible());
    EXPECT_TRUE(form.changeLogs().empty());

    // The port list: COM1 to COM15 first, nothing chosen, no typing.
    ASSERT_GE(form.ComboBox1->count(), 15);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(form.ComboBox1->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    EXPECT_EQ(form.ComboBox1->currentIndex(), -1);
    EXPECT_EQ(form.comboBox1Text(), "");
    EXPECT_FALSE(form.ComboBox1->isEditable());
}

TEST_F(Form1Test, PortFromTheCommandLineIsListedAndChosen) {
    app::qt::TForm1 form(dialogs, "/dev/pts/77");
    EXPECT_EQ(form.ComboBox1->currentText(), str("/dev/pts/77"));
    EXPECT_EQ(form.comboBox1Text(), "/dev/pts/77");
    // The box keeps its size, which cuts the name; the tool tip and the open list show it whole.
    EXPECT_EQ(form.ComboBox1->size(), QSize(89, 28));
    EXPECT_EQ(form.ComboBox1->toolTip(), str("/dev/pts/77"));
    EXPECT_GT(form.ComboBox1->view()->minimumWidth(),
              form.ComboBox1->fontMetrics().horizontalAdvance(str("/dev/pts/77")));
    form.ComboBox1->setCurrentIndex(2);
    EXPECT_EQ(form.ComboBox1->toolTip(), str("COM3"));

    // A port already in the list, however it is spelled, is chosen, not added twice.
    for (const char* name : {"COM3", "com3", "\\\\.\\COM3"}) {
        app::qt::TForm1 again(dialogs, name);
        EXPECT_EQ(again.ComboBox1->currentIndex(), 2) << name;
        EXPECT_EQ(again.ComboBox1->count(), form.ComboBox1->count() - 1) << name;
        EXPECT_EQ(again.comboBox1Text(), "COM3") << name;
    }
}

// Adapters come and go while the window is open: the list follows, the choice stays, and a chosen
// adapter that was pulled out stays chosen, marked, so that nothing is opened by surprise.
TEST_F(Form1Test, PortListFollowsAdaptersAndKeepsTheChoice) {
    app::qt::TForm1 form(dialogs);
    comport::SerialPortInfo usb0{"/dev/ttyUSB0", "/dev/serial/by-id/usb-A", "FTDI", "", "", "", ""};
    comport::SerialPortInfo acm0{"/dev/ttyACM0", "", "Arduino", "", "", "", ""};
    form.refreshPortList({usb0});
    form.ComboBox1->setCurrentIndex(15);
    EXPECT_EQ(form.comboBox1Text(), "/dev/serial/by-id/usb-A");

    form.refreshPortList({acm0, usb0});
    EXPECT_EQ(form.ComboBox1->itemText(15), str("/dev/ttyACM0: Arduino"));
    EXPECT_EQ(form.comboBox1Text(), "/dev/serial/by-id/usb-A");

    form.refreshPortList({acm0});
    EXPECT_EQ(form.comboBox1Text(), "/dev/serial/by-id/usb-A");
    EXPECT_EQ(form.ComboBox1->currentText(),
              str("/dev/ttyUSB0: FTDI, /dev/serial/by-id/usb-A (desconectado)"));
    form.refreshPortList({acm0, usb0});
    EXPECT_EQ(form.ComboBox1->currentText(), str("/dev/ttyUSB0: FTDI, /dev/serial/by-id/usb-A"));
    EXPECT_EQ(form.ComboBox1->count(), 17);

    form.ComboBox1->setCurrentIndex(-1);
    form.refreshPortList({});
    EXPECT_EQ(form.ComboBox1->currentIndex(), -1);
    EXPECT_EQ(form.ComboBox1->count(), 15);
}

TEST_F(Form1Test, WarningComesBeforeTheWindowAndIsTheSevenLines) {
    bool shownDuringWarning = true;
    dialogs.whileOpen = [&](const FakeDialogs::Box& b) { shownDuringWarning = b.windowVisible; };
    app::qt::TForm1 form(dialogs);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    const auto& warning = dialogs.boxes.front();
    EXPECT_EQ(warning.kind, FakeDialogs::Information);
    EXPECT_EQ(warning.caption, str("Information"));
    EXPECT_FALSE(shownDuringWarning);
    EXPECT_FALSE(form.isVisible());

    EXPECT_FALSE(warning.text.contains(QChar('\n')));
    const QStringList lines = warning.text.split(QChar('\r'));
    const QStringList expected = {
        str("NUNCA FECHAR O PROGRAMA DURANTE A TRANSMISSÃO"),
        str(""),
        str("Ao executar este Programa certifique-se :"),
        str("     -> se a Torvin esta ligada e conectada ao PC."),
        str("     -> se o PC está ligado a um NO-BREAK. "),
        str("     -> Use sempre cabo serial original 1,8 metros "),
        str("     -> Não use USB e ETHERNET"),
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(Form1Test, CloseRequestIsRefusedWhileARunIsUnderWay) {
    app::qt::TForm1 form(dialogs);
    form.show();
    form.setBitBtn6Enabled(false);
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());

    form.setBitBtn6Enabled(true);
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
}

TEST_F(Form1Test, CloseButtonClosesTheWindow) {
    app::qt::TForm1 form(dialogs);
    form.show();
    form.BitBtn6->click();
    EXPECT_FALSE(form.isVisible());
}

TEST_F(Form1Test, EachLogPressOpensAnotherChangeLogAndClosingOnlyHidesIt) {
    app::qt::TForm1 form(dialogs);
    form.show();
    form.Button1->click();
    form.Button1->click();
    ASSERT_EQ(form.changeLogs().size(), 2u);
    app::qt::TForm2* first = form.changeLogs()[0].get();
    app::qt::TForm2* second = form.changeLogs()[1].get();
    EXPECT_NE(first, second);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(second->isVisible());
    EXPECT_NE(first->pos(), second->pos()) << "the second lies exactly over the first";
    EXPECT_FALSE(first->isModal());
    // Change logs never keep the program running once the main window has closed.
    EXPECT_FALSE(first->testAttribute(Qt::WA_QuitOnClose));

    first->close();
    EXPECT_FALSE(first->isVisible());
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(form.changeLogs().size(), 2u);
}

TEST_F(Form1Test, SurfaceChangesTheControlsAndBoxesCarryTheTitle) {
    app::qt::TForm1 form(dialogs);
    form.form().setBitBtn2Caption("Iniciar");
    form.form().setLabel2("1974");
    form.form().setLabel7("1974");
    form.form().setProgressBar1(100);
    form.form().setLampColor(0x00FF00);
    form.form().setBitBtn2Enabled(false);
    EXPECT_EQ(form.BitBtn2->text(), str("Iniciar"));
    EXPECT_EQ(form.Label2->text(), str("1974"));
    EXPECT_GE(form.Label7->width(), form.Label7->sizeHint().width());
    EXPECT_EQ(form.ProgressBar1->value(), 100);
    EXPECT_EQ(form.Shape1->BrushColor(), 0x00FF00u);
    EXPECT_FALSE(form.BitBtn2->isEnabled());

    form.form().setTimer1Enabled(true);
    EXPECT_TRUE(form.Timer1->Enabled());
    form.form().setTimer1Enabled(false);
    EXPECT_FALSE(form.Timer1->Enabled());

    form.form().showMessage("TRANSMISSÃO CONCLUIDA !!");
    ASSERT_EQ(dialogs.boxes.size(), 2u);
    EXPECT_EQ(dialogs.boxes[1].kind, FakeDialogs::Message);
    EXPECT_EQ(dialogs.boxes[1].caption, QString::fromUtf8(app::programTitle));
    EXPECT_EQ(dialogs.boxes[1].text, str("TRANSMISSÃO CONCLUIDA !!"));
}

} // namespace
