#pragma once

#include "app/FormLayout.h"

#include <windows.h>

#include <map>
#include <string>

namespace app::win32 {

// A window built from a form description on the system's controls: the controls at their places
// and fonts, scaled from 96 dots per inch to the monitor's and laid out again when the window
// moves to a monitor of another scale; labels drawn in their colours on the button face; panels
// that pass their controls' notices on to the window.
class FormWindow {
public:
    explicit FormWindow(const FormDescription& description);
    virtual ~FormWindow();
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    HWND control(ControlId id) const { return controls_.at(id); }
    // A length at 96 dots per inch, at the window's scale.
    int scaled(int length) const { return MulDiv(length, static_cast<int>(dpi_), 96); }

    // A label's or button's new text; a label keeps fitting it.
    void setControlText(ControlId id, const std::string& text);

protected:
    // Creates the window, hidden, sized and centred on the screen's work area, with its controls.
    void create(DWORD style);
    // The window's messages; the default handles colours, scale changes and the frame's limits.
    virtual LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after every layout (creation, a change of scale).
    virtual void laidOut() {}

    const FormDescription& layout_;

private:
public:
    static LRESULT CALLBACK windowProcForClass(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam);

private:
    void layout();
    void fitLabel(const ControlDescription& c);
    HFONT font(const FontStyle& f);
    void dropFonts();

    HWND hwnd_ = nullptr;
    UINT dpi_ = 96;
    std::map<ControlId, HWND> controls_;
    std::map<std::pair<int, bool>, HFONT> fonts_;
};

// Registers the window classes of the forms and panels (once).
void registerFormClasses();

} // namespace app::win32
