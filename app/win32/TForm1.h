#pragma once

#include "app/Form1.h"
#include "app/Form1View.h"
#include "app/win32/FormWindow.h"
#include "comport/SerialPorts.h"

#include <commctrl.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace app::win32 {

class TForm2;

// The main window on the system's controls: the controls of form1Layout(), their notices passed
// to the shared handlers (app::Form1). The program ends when it is destroyed.
class TForm1 : public FormWindow, public Form1View {
public:
    // `extraPort` (from --port) is added to the port list and chosen. Creating the window shows
    // the start-up warning; the window is shown by show().
    explicit TForm1(const std::string& extraPort);
    ~TForm1() override;

    void show();

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
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) override;
    void laidOut() override;

private:
    void drawLamp(const DRAWITEMSTRUCT& item);
    void showChosenPortWhole();

    std::unique_ptr<Form1> form_;
    // Adapters plugged in or pulled out while the window is open change the port list.
    std::unique_ptr<comport::SerialPortWatch> adapterWatch_;
    std::vector<std::unique_ptr<TForm2>> changeLogs_;
    std::deque<std::function<void()>> later_;
    std::vector<std::string> portLabels_;
    std::uint32_t lamp_ = 0xFFFFFF;
    bool timerOn_ = false;
    HWND portTip_ = nullptr;
    HIMAGELIST startPictures_ = nullptr;
    HIMAGELIST closePictures_ = nullptr;
};

} // namespace app::win32
