#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace upload {

// Lamp colours of the status shape, as 0xRRGGBB.
inline constexpr std::uint32_t lampWhite = 0xFFFFFF;
inline constexpr std::uint32_t lampLime = 0x00FF00;

// What the upload logic changes in the main window: captions, enabled flags, the counters, the
// progress bar, the lamp, the retry timer and the message boxes. The main form (Form1, shared by
// the Qt and the Win32 window) implements it; tests and the command-line uploader provide their
// own.
class WindowSurface {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~WindowSurface() = default;

    // The time on the clock Timer1 counts by: the upload logic times the board's answers and the
    // line's silences with it.
    virtual Clock::time_point now() const { return Clock::now(); }

    virtual std::string comboBox1Text() const = 0;
    virtual void setBitBtn2Caption(const std::string& caption) = 0;
    virtual void setBitBtn2Enabled(bool enabled) = 0;
    virtual void setBitBtn6Enabled(bool enabled) = 0;
    virtual void setLabel2(const std::string& text) = 0;
    virtual void setLabel4(const std::string& text) = 0;
    virtual void setLabel7(const std::string& text) = 0;
    virtual void setLabel8(const std::string& text) = 0;
    virtual void setProgressBar1(int position) = 0;
    virtual void setLampColor(std::uint32_t rgb) = 0;

    // Timer1: enabling a disabled timer starts its one-second interval afresh; enabling a running
    // timer changes nothing.
    virtual void setTimer1Enabled(bool enabled) = 0;

    // A plain modal message box with one OK button; returns when the user has dismissed it.
    virtual void showMessage(const std::string& text) = 0;
};

} // namespace upload
