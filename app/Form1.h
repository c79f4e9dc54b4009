#pragma once

#include "app/Form1View.h"
#include "frontend/PortChoices.h"
#include "upload/WindowSurface.h"

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

namespace app {

class RunRecorder;

// The main window's behaviour, whatever toolkit draws it: its handlers, its port and port list,
// the upload logic it drives and the run log. The toolkit's view creates the controls of
// form1Layout(), then this, then calls FormCreate(); it forwards the controls' events here.
class Form1 : public upload::WindowSurface {
public:
    // `extraPort` (from --port) is added to the port list and chosen.
    Form1(Form1View& view, std::string extraPort);
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    std::unique_ptr<comport::TComPort> ComPort1;

    void FormCreate();
    void BitBtn2Click();
    void BitBtn6Click();
    void Button1Click();
    void ComPort1AfterOpen();
    void Timer1Timer();

    // A press of a button of the form: its handler runs, and a failure that leaves it is shown by
    // the application's error display.
    void clicked(ControlId control);
    // The window is asked to close (the close button, the system): whether it may. A run under
    // way keeps it open; otherwise the port is closed first, and one that refuses keeps it open.
    bool closeQuery();

    // Lists COM1 to COM15, the adapters given and the --port name, keeping the current choice.
    // Called when adapters come and go.
    void refreshPortList(const std::vector<comport::SerialPortInfo>& adapters);
    // The adapters the system lists now; none, with the reason on standard error, if it cannot.
    static std::vector<comport::SerialPortInfo> adaptersPresent();
    // What the port box lists, entry by entry: the name that opens the port and its label.
    const std::vector<upload::frontend::PortChoice>& portChoices() const { return portChoices_; }

    const upload::UploadLogic& upload() const { return *upload_; }

    // upload::WindowSurface, passed on to the view.
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

private:
    void createComPort1();
    // Closes the port after it failed while open; a failure of the close, as text.
    std::string letGoOfFailedPort();
    // Shows, on the title panel, a run's wait for what an earlier run may still be owed, and lets
    // the close button end it.
    void showEarlierAnswersWait();
    template <typename Step> void runStep(bool endsRun, Step&& step);
    void showPortChoices(int chosen);

    Form1View& view_;
    std::string extraPort_;
    std::vector<upload::frontend::PortChoice> portChoices_;
    std::unique_ptr<upload::frontend::ComPortOperations> portOperations_;
    std::unique_ptr<RunRecorder> recorder_;
    std::unique_ptr<upload::UploadLogic> upload_;
    bool closeEnabled_ = true;
    bool waitingEarlier_ = false; // the title panel shows that wait
};

} // namespace app
