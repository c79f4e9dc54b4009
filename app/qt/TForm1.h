#pragma once

#include "app/Form1.h"
#include "app/Form1View.h"

#include <QWidget>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace app::qt {

class AdapterWatch;
class Dialogs;
class TForm2;
class TPanel;
class TShape;
class TTimer;

// The main window drawn with Qt: the controls of form1Layout(), their events passed to the shared
// handlers (app::Form1). Its controls are public so that tests can look at them.
class TForm1 : public QWidget, public Form1View {
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
    comport::TComPort* ComPort1;

    // The shared handlers and the window surface the upload logic sees.
    Form1& form() { return *form_; }
    const upload::UploadLogic& upload() const { return form_->upload(); }

    // The change-log windows opened so far, hidden or not.
    const std::vector<std::unique_ptr<TForm2>>& changeLogs() const { return changeLogs_; }

    // Shortcuts to the shared handlers and surface, as tests use them.
    void refreshPortList(const std::vector<comport::SerialPortInfo>& adapters) {
        form_->refreshPortList(adapters);
    }
    std::string comboBox1Text() const { return form_->comboBox1Text(); }
    void setBitBtn6Enabled(bool enabled) { form_->setBitBtn6Enabled(enabled); }

    // Form1View
    void setText(ControlId control, const std::string& text) override;
    void setEnabled(ControlId control, bool enabled) override;
    void setProgress(int position) override;
    void setLampColour(std::uint32_t rgb) override;
    void setPortItems(const std::vector<std::string>& labels, int chosen) override;
    int chosenPort() const override;
    void setTimerEnabled(bool enabled) override;
    void showBox(BoxKind kind, const std::string& caption, const std::string& text) override;
    void openChangeLog() override;
    void closeWindow() override;
    void later(std::function<void()> call) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void showChosenPortWhole();

    Dialogs& dialogs_;
    std::map<ControlId, QWidget*> controls_;
    AdapterWatch* adapterWatch_ = nullptr;
    std::unique_ptr<Form1> form_;
    std::vector<std::unique_ptr<TForm2>> changeLogs_;
    bool placed_ = false;
};

} // namespace app::qt
