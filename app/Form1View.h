#pragma once

#include "app/FormLayout.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace app {

enum class BoxKind : std::uint8_t {
    Information, // the start-up warning: information icon, its own caption
    Message,     // an upload's outcome: no icon
    Error,       // an error that left a handler: error icon
};

// What the main window's handlers need from a toolkit: the controls of form1Layout() as the
// toolkit made them, the retry timer, modal boxes, and the change-log windows. Every call is
// made on the window's thread.
class Form1View {
public:
    virtual ~Form1View() = default;

    virtual void setText(ControlId control, const std::string& text) = 0;
    virtual void setEnabled(ControlId control, bool enabled) = 0;
    virtual void setProgress(int position) = 0;
    virtual void setLampColour(std::uint32_t rgb) = 0;

    // The port box: its entries, the one chosen (-1: none); what is chosen now.
    virtual void setPortItems(const std::vector<std::string>& labels, int chosen) = 0;
    virtual int chosenPort() const = 0;

    // Timer1: switching a stopped timer on starts its interval afresh, switching a running one
    // on changes nothing. Its ticks come back as Form1::Timer1Timer().
    virtual void setTimerEnabled(bool enabled) = 0;

    // A modal box over the main window (over the screen while the window is not shown yet); returns
    // once it is dismissed.
    virtual void showBox(BoxKind kind, const std::string& caption, const std::string& text) = 0;

    // A new change-log window, shown without waiting.
    virtual void openChangeLog() = 0;
    // Asks the window to close; the toolkit then asks Form1::closeQuery().
    virtual void closeWindow() = 0;
    // Runs `call` on the window's thread once the current handler is done.
    virtual void later(std::function<void()> call) = 0;
};

} // namespace app
