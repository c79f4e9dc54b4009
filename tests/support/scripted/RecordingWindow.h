#pragma once

#include "tests/support/scripted/CallLog.h"
#include "upload/WindowSurface.h"

#include <functional>
#include <string>
#include <vector>

namespace upload::scripted {

// The main window as the upload logic sees it, recording every change in the call log and keeping
// what each control shows. The retry timer is manual: it only remembers whether it runs; the
// driver decides when a second has passed. Message boxes are answered at once.
class RecordingWindow : public WindowSurface {
public:
    explicit RecordingWindow(CallLog& log) : log_(log) {}

    // What the user picked in the port list ("" when nothing is picked).
    std::string comboText;
    // Runs while a message box is open, as the box's modal loop would let events through.
    std::function<void(const std::string&)> onMessage;

    // What the window shows: the state a freshly created window has.
    std::string bitBtn2Caption = "Abre Porta";
    bool bitBtn2Enabled = true;
    bool bitBtn6Enabled = true;
    std::string label2 = "0", label4 = "0", label7 = "0", label8 = "0";
    int progress = 0;
    std::uint32_t lamp = lampWhite;
    bool timer1Enabled = false;
    int timer1Starts = 0; // times the timer went from stopped to running
    // The window's clock, moved on by the driver; and when a running Timer1 ticks next.
    Clock::time_point time{};
    Clock::time_point timer1Due{};
    std::vector<std::string> messages;

    Clock::time_point now() const override { return time; }
    std::string comboBox1Text() const override { return comboText; }
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
    CallLog& log_;
};

} // namespace upload::scripted
