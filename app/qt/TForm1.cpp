#include "app/qt/TForm1.h"

#include "app/Texts.h"
#include "app/qt/AdapterWatch.h"
#include "app/qt/Dialogs.h"
#include "app/qt/FormBuilder.h"
#include "app/qt/FormStyle.h"
#include "app/qt/TForm2.h"
#include "app/qt/TPanel.h"
#include "app/qt/TShape.h"
#include "app/qt/TTimer.h"
#include "upload/FirmwareImage.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStringList>
#include <QTimer>

#include <algorithm>

namespace app::qt {

TForm1::TForm1(Dialogs& dialogs, const std::string& extraPort)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      dialogs_(dialogs) {
    createControls();
    form_ = std::make_unique<Form1>(*this, extraPort);
    ComPort1 = form_->ComPort1.get();
    adapterWatch_ =
        new AdapterWatch([this] { form_->refreshPortList(Form1::adaptersPresent()); }, this);
    form_->FormCreate();
}

TForm1::~TForm1() {
    form_.reset();
}

void TForm1::createControls() {
    const FormDescription& layout = form1Layout();
    setObjectName(QString::fromLatin1(layout.name));
    setWindowTitle(qs(layout.caption));
    setFont(formFont());
    setFixedSize(layout.width, layout.height);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    controls_ = buildControls(layout, this);
    auto get = [this]<typename W>(W*& member, ControlId id) {
        member = static_cast<W*>(controls_.at(id));
    };
    get(Panel1, ControlId::Panel1), get(Button1, ControlId::Button1);
    get(Shape1, ControlId::Shape1), get(ComboBox1, ControlId::ComboBox1);
    get(BitBtn2, ControlId::BitBtn2), get(BitBtn6, ControlId::BitBtn6);
    get(Panel2, ControlId::Panel2), get(Label1, ControlId::Label1);
    get(Label2, ControlId::Label2), get(Label3, ControlId::Label3);
    get(Label4, ControlId::Label4), get(Label5, ControlId::Label5);
    get(Label7, ControlId::Label7), get(Label6, ControlId::Label6);
    get(Label8, ControlId::Label8), get(ProgressBar1, ControlId::ProgressBar1);
    get(RichEdit1, ControlId::RichEdit1), get(Label9, ControlId::Label9);
    get(Label11, ControlId::Label11), get(Label12, ControlId::Label12);
    get(Label13, ControlId::Label13), get(Label10, ControlId::Label10);

    // The title's words end clear of the panel's first control.
    Panel1->setCaptionLimit(Button1->x() - 6);

    QStringList imageLines;
    for (std::string_view line : upload::firmwareImage())
        imageLines << QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    RichEdit1->setPlainText(imageLines.join(QChar('\n')));

    Timer1 = new TTimer(this, 1000);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->OnTimer = [this] { form_->Timer1Timer(); };
    for (const ControlDescription& c : layout.controls)
        if (c.onClick)
            connect(static_cast<QPushButton*>(controls_.at(c.id)), &QPushButton::clicked, this,
                    [this, id = c.id] { form_->clicked(id); });
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] { showChosenPortWhole(); });
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!placed_) {
        placed_ = true;
        centreOnScreen(this);
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (form_->closeQuery()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TForm1::setText(ControlId control, const std::string& text) {
    QWidget* w = controls_.at(control);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        setLabelText(label, qs(text));
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        button->setText(qs(text));
    } else if (auto* panel = qobject_cast<TPanel*>(w)) {
        panel->setCaption(qs(text));
    }
}

void TForm1::setEnabled(ControlId control, bool enabled) {
    controls_.at(control)->setEnabled(enabled);
}

void TForm1::setProgress(int position) {
    ProgressBar1->setValue(position);
}

void TForm1::setLampColour(std::uint32_t rgb) {
    Shape1->setBrushColor(rgb);
}

void TForm1::setPortItems(const std::vector<std::string>& labels, int chosen) {
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->clear();
    int widest = 0;
    for (const auto& label : labels) {
        ComboBox1->addItem(qs(label));
        widest = std::max(widest, ComboBox1->fontMetrics().horizontalAdvance(qs(label)));
    }
    // The box keeps its size; the open list shows the entries whole.
    ComboBox1->view()->setMinimumWidth(widest + 32);
    ComboBox1->setCurrentIndex(chosen);
    showChosenPortWhole();
}

// The closed box is narrower than most names: its tool tip shows the whole entry.
void TForm1::showChosenPortWhole() {
    ComboBox1->setToolTip(ComboBox1->currentText());
}

int TForm1::chosenPort() const {
    return ComboBox1->currentIndex();
}

void TForm1::setTimerEnabled(bool enabled) {
    Timer1->setEnabled(enabled);
}

void TForm1::showBox(BoxKind kind, const std::string& caption, const std::string& text) {
    // The start-up warning comes before the window is shown: it stands alone on the screen.
    switch (kind) {
    case BoxKind::Information:
        dialogs_.information(nullptr, qs(caption), qs(text));
        break;
    case BoxKind::Message:
        dialogs_.message(this, qs(caption), qs(text));
        break;
    case BoxKind::Error:
        dialogs_.error(this, qs(caption), qs(text));
        break;
    }
}

void TForm1::openChangeLog() {
    auto log = std::make_unique<TForm2>();
    log->setCascade(static_cast<int>(std::count_if(changeLogs_.begin(), changeLogs_.end(),
                                                   [](const auto& l) { return l->isVisible(); })));
    log->show();
    changeLogs_.push_back(std::move(log));
}

void TForm1::closeWindow() {
    close();
}

void TForm1::later(std::function<void()> call) {
    QTimer::singleShot(0, this, std::move(call));
}

} // namespace app::qt
