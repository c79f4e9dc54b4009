#include "app/TForm1.h"

#include "app/AdapterWatch.h"
#include "app/Dialogs.h"
#include "app/FormStyle.h"
#include "app/FrameworkBridge.h"
#include "app/Glyphs.h"
#include "app/RunRecorder.h"
#include "app/TForm2.h"
#include "app/TPanel.h"
#include "app/TShape.h"
#include "app/TTimer.h"
#include "app/Texts.h"
#include "comport/ComPort.h"
#include "comport/SerialPorts.h"
#include "upload/FirmwareImage.h"
#include "upload/UploadLogic.h"
#include "upload/frontend/ComPortOperations.h"
#include "upload/frontend/MainWindowPort.h"
#include "upload/frontend/PortChoices.h"
#include "upload/frontend/PortFailure.h"
#include "framework/Translation.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStringList>
#include <QStyle>
#include <QTimer>

#include <cstdio>

namespace app {

namespace {

constexpr std::uint32_t clGreen = 0x008000;
constexpr std::uint32_t clRed = 0xFF0000;
constexpr std::uint32_t clNavy = 0x000080;

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// A label that sizes itself to its text, as the stored layout's labels do.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  const QFont& font, std::uint32_t colour = 0x000000) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor::fromRgb(colour));
    label->setPalette(pal);
    // The window's button-face background would otherwise make the label draw in the button
    // text colour, whatever its own colour says.
    label->setForegroundRole(QPalette::WindowText);
    label->move(left, top);
    label->adjustSize();
    return label;
}

// Runs a step of the upload logic. A port failure leaves it with what the technician needs
// beneath the component's message: the system's words, the device, what to do and, once records
// went out, that the board may hold an incomplete firmware.
template <typename Step>
void explainingPortFailures(const comport::TComPort& port, const upload::UploadLogic& logic,
                            Step&& step) {
    try {
        std::forward<Step>(step)();
    } catch (const comport::EComPort& e) {
        const auto failure = upload::frontend::describePortFailure(
            e, port, port.Port(), logic.recordIndex(), upload::frontend::FailureReader::window);
        throw fw::Exception(upload::frontend::windowFailureText(e, port.Port(), failure));
    }
}

void setLabelText(QLabel* label, const std::string& text) {
    label->setText(qs(text));
    label->adjustSize();
}

} // namespace

TForm1::TForm1(Dialogs& dialogs, const std::string& extraPort)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      dialogs_(dialogs), extraPort_(extraPort) {
    createControls();
    createComPort1();
    // The logic speaks to the window through the run log's recorder.
    recorder_ = std::make_unique<RunRecorder>(
        *this, [this](std::function<void()> call) { QTimer::singleShot(0, this, std::move(call)); },
        [this](const std::string& text) {
            dialogs_.error(this, QString::fromUtf8(programTitle), QString::fromStdString(text));
        });
    upload_ = std::make_unique<upload::UploadLogic>(*portOperations_, *recorder_);
    recorder_->setLogic(*upload_);
    FormCreate();
}

// The port goes first (its close may still deliver events, which need the upload logic), then the
// logic and the controls.
TForm1::~TForm1() {
    Timer1->setEnabled(false);
    ComPort1.reset();
}

void TForm1::createControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(programTitle));
    setFont(formFont());
    setFixedSize(590, 263);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    const QFont counterFont = formFont(12, true);

    Panel1 = new TPanel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 8, 577, 41);
    Panel1->setFont(formFont(14, true));
    Panel1->setCaption(QStringLiteral("Atualizador Torvin04/05   -  v A.3  28/10/15") +
                       QString(29, QChar(' ')));

    Button1 = new QPushButton(QStringLiteral("log"), Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFont(formFont());
    Button1->setGeometry(400, 8, 41, 25);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    Shape1 = new TShape(Panel1);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(448, 8, 18, 18);
    Shape1->setPenColor(clGreen);

    ComboBox1 = new QComboBox(Panel1);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(473, 8, 89, 28);
    ComboBox1->setFont(counterFont);
    ComboBox1->setEditable(false);
    refreshPortList(adaptersPresent());
    ComboBox1->setCurrentIndex(upload::frontend::findChoice(portChoices_, extraPort_));
    adapterWatch_ = new AdapterWatch([this] { refreshPortList(adaptersPresent()); }, this);

    BitBtn2 = new QPushButton(QStringLiteral("Abre Porta"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(410, 56, 175, 42);
    BitBtn2->setIcon(uploadGlyph());
    BitBtn2->setIconSize(QSize(28, 28));

    BitBtn6 = new QPushButton(QStringLiteral("&Close"), this);
    BitBtn6->setObjectName(QStringLiteral("BitBtn6"));
    BitBtn6->setGeometry(410, 108, 175, 42);
    BitBtn6->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    connect(BitBtn6, &QPushButton::clicked, this, [this] { BitBtn6Click(); });

    Panel2 = new TPanel(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(8, 56, 393, 97);

    Label1 = makeLabel(Panel2, "Label1", QStringLiteral("Número: "), 16, 16, counterFont, clGreen);
    Label2 = makeLabel(Panel2, "Label2", QStringLiteral("0"), 106, 16, counterFont, clGreen);
    Label3 = makeLabel(Panel2, "Label3", QStringLiteral("Tentativas:"), 16, 40, counterFont, clRed);
    Label4 = makeLabel(Panel2, "Label4", QStringLiteral("0"), 106, 40, counterFont, clRed);
    Label5 =
        makeLabel(Panel2, "Label5", QStringLiteral("Registro: "), 184, 16, counterFont, clNavy);
    Label7 = makeLabel(Panel2, "Label7", QStringLiteral("0"), 272, 16, counterFont, clNavy);
    Label6 = makeLabel(Panel2, "Label6", QStringLiteral("Erros : "), 184, 40, counterFont, clRed);
    Label8 = makeLabel(Panel2, "Label8", QStringLiteral("0"), 272, 40, counterFont, clRed);

    // Created after Panel2, so that it lies over the panel's lower part.
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(24, 120, 353, 16);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    // The store of the firmware image's lines; never shown.
    RichEdit1 = new QPlainTextEdit(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setGeometry(8, 136, 361, 17);
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setReadOnly(true);
    RichEdit1->hide();
    QStringList imageLines;
    for (std::string_view line : upload::firmwareImage())
        imageLines << QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    RichEdit1->setPlainText(imageLines.join(QChar('\n')));

    const QFont plain = formFont();
    Label9 = makeLabel(this, "Label9", QString::fromUtf8(label9Text), 16, 160, plain);
    Label11 = makeLabel(this, "Label11", QString::fromUtf8(label11Text), 48, 176, plain);
    Label12 = makeLabel(this, "Label12", QString::fromUtf8(label12Text), 40, 192, plain);
    Label13 = makeLabel(this, "Label13", QString::fromUtf8(label13Text), 120, 208, plain);
    Label10 =
        makeLabel(this, "Label10", QString::fromUtf8(label10Text), 184, 232, formFont(8, true));

    Timer1 = new TTimer(this, 1000);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->OnTimer = [this] {
        runHandler([this] {
            explainingPortFailures(*ComPort1, *upload_, [this] { upload_->Timer1Timer(); });
        });
    };
    connect(BitBtn2, &QPushButton::clicked, this,
            [this] { runHandler([this] { BitBtn2Click(); }); });
}

// The port with the settings stored with the window; every other setting keeps its default.
void TForm1::createComPort1() {
    using namespace comport;
    ComPort1 = std::make_unique<TComPort>();
    upload::frontend::applyMainWindowPortSettings(*ComPort1, [this](TCustomComPort& port) {
        port.OnAfterOpen = [this](fw::TObject*) { ComPort1AfterOpen(); };
        // Not guarded: a failure here goes back to the port's event delivery, which shows it.
        port.OnRxChar = [this](fw::TObject*, std::int32_t count) {
            explainingPortFailures(*ComPort1, *upload_,
                                   [this, count] { upload_->ComPort1RxChar(count); });
        };
    });
    portOperations_ = std::make_unique<upload::frontend::ComPortOperations>(*ComPort1);
}

void TForm1::BitBtn2Click() {
    explainingPortFailures(*ComPort1, *upload_, [this] { upload_->BitBtn2Click(); });
}

void TForm1::FormCreate() {
    Shape1->setBrushColor(upload::lampWhite);
    upload_->setTotalRecords(upload::firmwareRecordCount);
    dialogs_.information(nullptr, QString::fromLatin1(startupWarningCaption),
                         QString::fromUtf8(startupWarning));
}

// The lamp's colour is the upload logic's rule; it sets it through the window surface.
void TForm1::ComPort1AfterOpen() {
    upload_->ComPort1AfterOpen();
}

// The close request does the work (closing the port, keeping the window on a port error).
void TForm1::BitBtn6Click() {
    close();
}

void TForm1::Button1Click() {
    auto log = std::make_unique<TForm2>();
    log->show();
    changeLogs_.push_back(std::move(log));
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!placed_) {
        placed_ = true;
        centreOnScreen(this);
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    // While a run is under way the close button is disabled, and the window manager's close
    // request must not end the run either: the board would be left half-written.
    if (!BitBtn6->isEnabled()) {
        event->ignore();
        return;
    }
    // Otherwise it is the close button's job: close the port, then the window. A port that
    // refuses to close keeps the window open, with the error shown.
    bool closed = false;
    runHandler([this, &closed] {
        if (ComPort1->Connected()) ComPort1->closePort();
        closed = true;
    });
    if (closed) {
        event->accept();
    } else {
        event->ignore();
    }
}

// The item shows a description; the port is opened by the name behind it.
std::string TForm1::comboBox1Text() const {
    const int index = ComboBox1->currentIndex();
    if (index < 0 || index >= static_cast<int>(portChoices_.size())) return {};
    return portChoices_[static_cast<std::size_t>(index)].name;
}

std::vector<comport::SerialPortInfo> TForm1::adaptersPresent() {
    try {
        return comport::serialPortsPresent();
    } catch (const std::exception& e) {
        // The window still offers COM1 to COM15 and --port; the reason goes where it can be read.
        std::fprintf(stderr, "torvin-updater: %s\n",
                     fw::tr("{1}; only COM1 to COM15 are listed", {e.what()}).c_str());
        return {};
    }
}

void TForm1::refreshPortList(const std::vector<comport::SerialPortInfo>& adapters) {
    const std::string chosen = comboBox1Text();
    std::vector<upload::frontend::PortChoice> choices =
        upload::frontend::portChoices(adapters, extraPort_);
    int index = upload::frontend::findChoice(choices, chosen);
    if (!chosen.empty() && index < 0) {
        // The chosen adapter was pulled out: the choice stays, marked, until the user makes
        // another (opening it then fails and says so).
        const auto& old = portChoices_[static_cast<std::size_t>(ComboBox1->currentIndex())];
        const std::string mark = " (desconectado)";
        choices.push_back({chosen, old.label.ends_with(mark) ? old.label : old.label + mark});
        index = static_cast<int>(choices.size()) - 1;
    }
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->clear();
    int widest = 0;
    for (const auto& choice : choices) {
        ComboBox1->addItem(qs(choice.label));
        widest = std::max(widest, ComboBox1->fontMetrics().horizontalAdvance(qs(choice.label)));
    }
    portChoices_ = std::move(choices);
    // Descriptions are longer than the closed box; the open list shows them whole.
    ComboBox1->view()->setMinimumWidth(widest + 32);
    ComboBox1->setCurrentIndex(index);
}

void TForm1::setBitBtn2Caption(const std::string& caption) {
    BitBtn2->setText(qs(caption));
}
void TForm1::setBitBtn2Enabled(bool enabled) {
    BitBtn2->setEnabled(enabled);
}
void TForm1::setBitBtn6Enabled(bool enabled) {
    BitBtn6->setEnabled(enabled);
}
void TForm1::setLabel2(const std::string& text) {
    setLabelText(Label2, text);
}
void TForm1::setLabel4(const std::string& text) {
    setLabelText(Label4, text);
}
void TForm1::setLabel7(const std::string& text) {
    setLabelText(Label7, text);
}
void TForm1::setLabel8(const std::string& text) {
    setLabelText(Label8, text);
}
void TForm1::setProgressBar1(int position) {
    ProgressBar1->setValue(position);
}
void TForm1::setLampColor(std::uint32_t rgb) {
    Shape1->setBrushColor(rgb);
}
void TForm1::setTimer1Enabled(bool enabled) {
    Timer1->setEnabled(enabled);
}

void TForm1::showMessage(const std::string& text) {
    dialogs_.message(this, QString::fromUtf8(programTitle), qs(text));
}

} // namespace app
