#pragma once

#include "upload/WindowSurface.h"
#include "upload/frontend/PortChoices.h"

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

namespace comport {
class TComPort;
}
namespace upload::frontend {
class ComPortOperations;
}
namespace upload {
class UploadLogic;
}

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace app {

class AdapterWatch;
class Dialogs;
class RunRecorder;
class TForm2;
class TPanel;
class TShape;
class TTimer;

// The main window: port choice, start and close buttons, the counters of an upload run, the
// status lamp and the retry timer. Its controls are public so that tests can look at them.
class TForm1 : public QWidget, public upload::WindowSurface {
    Q_OBJECT
public:
    // `dialogs` answers every modal box and must outlive the window. `extraPort` (from --port) is
    // added to the port list and selected. Creating the window shows the start-up warning.
    explicit TForm1(Dialogs& dialogs, const std::string& extraPort = {});
    ~TForm1() override;

    TPanel* Panel1;
    QPushButton* Button1;
    TShape* Shape1;
    QComboBox* ComboBox1;
    QPushButton* BitBtn2;
    QPushButton* BitBtn6;
    TPanel* Panel2;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label7;
    QLabel* Label6;
    QLabel* Label8;
    QProgressBar* ProgressBar1;
    QPlainTextEdit* RichEdit1;
    QLabel* Label9;
    QLabel* Label11;
    QLabel* Label12;
    QLabel* Label13;
    QLabel* Label10;
    TTimer* Timer1;
    std::unique_ptr<comport::TComPort> ComPort1;

    // The change-log windows opened so far, hidden or not.
    const std::vector<std::unique_ptr<TForm2>>& changeLogs() const { return changeLogs_; }

    void FormCreate();
    void BitBtn2Click();
    void BitBtn6Click();
    void Button1Click();
    void ComPort1AfterOpen();

    // Lists COM1 to COM15, the adapters given and the --port name, keeping the current choice.
    // Called when adapters come and go.
    void refreshPortList(const std::vector<comport::SerialPortInfo>& adapters);

    // The upload run's state, for tests and the screenshots.
    const upload::UploadLogic& upload() const { return *upload_; }

    // upload::WindowSurface
    std::string comboBox1Text() const override;
    void setBitBtn2Caption(const std::string& caption) override;
    void setBitBtn2Enabled(bool enabled) override;
    void setBitBtn6Enabled(bool enabled) override;
    void setLabel2(const std::string& text) override;
    void setLabel4(const std::string& text) override;
    void setLabel7(const std::string& text) override;
    void setLabel8(const std::string& text) override;
    void setProgressBar1(int position) override;
    void setLampColor(std::uint32_t rgb) override;
    void setTimer1Enabled(bool enabled) override;
    void showMessage(const std::string& text) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    static std::vector<comport::SerialPortInfo> adaptersPresent();
    void createComPort1();

    Dialogs& dialogs_;
    std::string extraPort_;
    std::vector<upload::frontend::PortChoice> portChoices_;
    AdapterWatch* adapterWatch_ = nullptr;
    std::unique_ptr<upload::frontend::ComPortOperations> portOperations_;
    std::unique_ptr<RunRecorder> recorder_;
    std::unique_ptr<upload::UploadLogic> upload_;
    std::vector<std::unique_ptr<TForm2>> changeLogs_;
    bool placed_ = false;
};

} // namespace app
