#include "app/Form1.h"

#include "app/RunHandler.h"
#include "app/RunRecorder.h"
#include "app/Texts.h"
#include "comport/ComPort.h"
#include "comport/SerialPorts.h"
#include "framework/Translation.h"
#include "frontend/ComPortOperations.h"
#include "frontend/MainWindowPort.h"
#include "frontend/PortFailure.h"
#include "frontend/RunDevice.h"
#include "upload/FirmwareImage.h"
#include "upload/UploadLogic.h"

#include <cstdio>

namespace app {

namespace {

// The --port name as the list has it when both name the same device, as the system compares
// names ("com3" and "COM3" on Windows, COM1 and /dev/ttyS0 on Linux): one port, one entry.
std::string asListed(const std::vector<comport::SerialPortInfo>& adapters,
                     const std::string& extra) {
    if (extra.empty()) return extra;
    const std::string device = upload::frontend::deviceFileOf(extra);
    for (const auto& choice : upload::frontend::portChoices(adapters, {}))
        if (upload::frontend::deviceFileOf(choice.name) == device) return choice.name;
    return extra;
}

} // namespace

// A failure that leaves a step of the upload logic ends the run going on, if the step was
// running it: the run log is told how. A port failure leaves it with what the technician needs
// beneath the component's message: the system's words, the device, what to do and, once records
// went out, that the board may hold an incomplete firmware; the failed port is let go of first,
// and a failure of that is added to the text.
template <typename Step> void Form1::runStep(bool endsRun, Step&& step) {
    try {
        std::forward<Step>(step)();
    } catch (const std::exception& e) {
        if (endsRun)
            recorder_->told(upload::RunEnded{upload::failureOutcome(e), upload_->recordIndex()});
        const auto* com = dynamic_cast<const comport::EComPort*>(&e);
        if (!com) throw;
        const auto failure = upload::frontend::describePortFailure(
            *com, *ComPort1, ComPort1->Port(), upload_->recordIndex(),
            upload::frontend::FailureReader::window);
        std::string text = upload::frontend::windowFailureText(*com, ComPort1->Port(), failure);
        const std::string more = letGoOfFailedPort();
        if (!more.empty()) text += "\n\n" + more;
        throw fw::Exception(text);
    }
}

Form1::Form1(Form1View& view, std::string extraPort)
    : view_(view), extraPort_(std::move(extraPort)) {
    const auto adapters = adaptersPresent();
    extraPort_ = asListed(adapters, extraPort_);
    portChoices_ = upload::frontend::portChoices(adapters, extraPort_);
    showPortChoices(upload::frontend::findChoice(portChoices_, extraPort_));
    createComPort1();
    // The logic tells the run log's recorder what its runs do. A log that cannot be opened is
    // told once the window is up, over it.
    recorder_ = std::make_unique<RunRecorder>(
        [this] { return ComPort1->Port(); },
        [this](const std::string& text) {
            view_.later([this, text] { view_.showBox(BoxKind::Error, programTitle, text); });
        });
    upload_ = std::make_unique<upload::UploadLogic>(*portOperations_, *this);
    upload_->setListener(recorder_.get());
}

// The port goes first (its close may still deliver events, which need the upload logic), then the
// logic.
Form1::~Form1() {
    view_.setTimerEnabled(false);
    ComPort1.reset();
}

// The port with the settings stored with the window; every other setting keeps its default.
void Form1::createComPort1() {
    using namespace comport;
    ComPort1 = std::make_unique<TComPort>();
    upload::frontend::applyMainWindowPortSettings(*ComPort1, [this](TCustomComPort& port) {
        port.OnAfterOpen = [this](fw::TObject*) { ComPort1AfterOpen(); };
        // Not guarded: a failure here goes back to the port's event delivery, which shows it.
        port.OnRxChar = [this](fw::TObject*, std::int32_t count) {
            runStep(true, [this, count] { upload_->ComPort1RxChar(count); });
        };
    });
    portOperations_ = std::make_unique<upload::frontend::ComPortOperations>(*ComPort1);
}

void Form1::FormCreate() {
    view_.setLampColour(upload::lampWhite);
    upload_->setTotalRecords(upload::firmwareRecordCount);
    view_.showBox(BoxKind::Information, startupWarningCaption, startupWarning);
}

void Form1::BitBtn2Click() {
    // Opening the port leaves a run as it was (one cut short by a lost port goes on from where
    // it stood); a press on an open port starts a run.
    const bool opening = !ComPort1->Connected();
    runStep(!opening, [this] { upload_->BitBtn2Click(); });
    showEarlierAnswersWait();
}

// The close request does the work (closing the port, keeping the window on a port error).
void Form1::BitBtn6Click() {
    view_.closeWindow();
}

void Form1::Button1Click() {
    view_.openChangeLog();
}

// The lamp's colour is the upload logic's rule; it sets it through the window surface.
void Form1::ComPort1AfterOpen() {
    upload_->ComPort1AfterOpen();
}

void Form1::Timer1Timer() {
    runHandler([this] { runStep(true, [this] { upload_->Timer1Timer(); }); });
    showEarlierAnswersWait();
}

// The wait can last minutes with nothing else moving. Nothing has gone out to the board yet, so
// closing the program then leaves no board half-written; what is still owed is kept for the next
// run on the port.
void Form1::showEarlierAnswersWait() {
    const auto left = upload_->earlierAnswersWait();
    const bool waiting = !closeEnabled_ && left > decltype(left)::zero();
    if (waiting)
        view_.setText(ControlId::Panel1,
                      earlierAnswersCaption(std::chrono::ceil<std::chrono::seconds>(left).count()));
    else if (waitingEarlier_)
        view_.setText(ControlId::Panel1, panel1Caption());
    view_.setEnabled(ControlId::BitBtn6, waiting || closeEnabled_);
    waitingEarlier_ = waiting;
}

// A port that fails while open may lead nowhere any more (an adapter pulled out, the far end of the
// line gone), and every later call on it would fail the same way. It is closed as a failed run
// closes it: the lamp turns white, the start button keeps "Iniciar", and its next press opens the
// device again, which works once the board is back.
std::string Form1::letGoOfFailedPort() {
    if (!ComPort1->Connected()) return {};
    try {
        ComPort1->closePort();
    } catch (const std::exception& e) {
        return e.what(); // the port stays as it is; the box shows both failures
    }
    view_.setLampColour(upload::lampWhite);
    return {};
}

// The button's row names its handler.
void Form1::clicked(ControlId control) {
    const auto handler = describedControl(form1Layout(), control).onClick;
    if (handler) runHandler([this, handler] { (this->*handler)(); });
}

bool Form1::closeQuery() {
    // While a run is under way the close button is disabled, and the system's close request must
    // not end the run either: the board would be left half-written.
    if (!closeEnabled_ && !waitingEarlier_) return false;
    bool closed = false;
    runHandler([this, &closed] {
        if (ComPort1->Connected()) ComPort1->closePort();
        closed = true;
    });
    return closed;
}

// The item shows a description; the port is opened by the name behind it.
std::string Form1::comboBox1Text() const {
    const int index = view_.chosenPort();
    if (index < 0 || index >= static_cast<int>(portChoices_.size())) return {};
    return portChoices_[static_cast<std::size_t>(index)].name;
}

std::vector<comport::SerialPortInfo> Form1::adaptersPresent() {
    try {
        return comport::serialPortsPresent();
    } catch (const std::exception& e) {
        // The window still offers COM1 to COM15 and --port; the reason goes where it can be read.
        std::fprintf(stderr, "torvin-updater: %s\n",
                     fw::tr("{1}; only COM1 to COM15 are listed", {e.what()}).c_str());
        return {};
    }
}

void Form1::refreshPortList(const std::vector<comport::SerialPortInfo>& adapters) {
    const std::string chosen = comboBox1Text();
    std::vector<upload::frontend::PortChoice> choices =
        upload::frontend::portChoices(adapters, extraPort_);
    int index = upload::frontend::findChoice(choices, chosen);
    if (!chosen.empty() && index < 0) {
        // The chosen adapter was pulled out: the choice stays, marked, until the user makes
        // another (opening it then fails and says so).
        const auto& old = portChoices_[static_cast<std::size_t>(view_.chosenPort())];
        const std::string mark = " (desconectado)";
        choices.push_back({chosen, old.label.ends_with(mark) ? old.label : old.label + mark});
        index = static_cast<int>(choices.size()) - 1;
    }
    portChoices_ = std::move(choices);
    showPortChoices(index);
}

void Form1::showPortChoices(int chosen) {
    std::vector<std::string> labels;
    labels.reserve(portChoices_.size());
    for (const auto& c : portChoices_)
        labels.push_back(c.label);
    view_.setPortItems(labels, chosen);
}

void Form1::setBitBtn2Caption(const std::string& caption) {
    view_.setText(ControlId::BitBtn2, caption);
}
void Form1::setBitBtn2Enabled(bool enabled) {
    view_.setEnabled(ControlId::BitBtn2, enabled);
}
void Form1::setBitBtn6Enabled(bool enabled) {
    closeEnabled_ = enabled;
    view_.setEnabled(ControlId::BitBtn6, enabled);
}
void Form1::setLabel2(const std::string& text) {
    view_.setText(ControlId::Label2, text);
}
void Form1::setLabel4(const std::string& text) {
    view_.setText(ControlId::Label4, text);
}
void Form1::setLabel7(const std::string& text) {
    view_.setText(ControlId::Label7, text);
}
void Form1::setLabel8(const std::string& text) {
    view_.setText(ControlId::Label8, text);
}
void Form1::setProgressBar1(int position) {
    view_.setProgress(position);
}
void Form1::setLampColor(std::uint32_t rgb) {
    view_.setLampColour(rgb);
}
void Form1::setTimer1Enabled(bool enabled) {
    view_.setTimerEnabled(enabled);
}
void Form1::showMessage(const std::string& text) {
    view_.showBox(BoxKind::Message, programTitle, text);
}

} // namespace app
