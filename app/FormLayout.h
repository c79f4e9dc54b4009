#pragma once

// The two windows as data: every control with its kind, parent, place and size at 96 dots per
// inch, caption, font, colour, Win32 control id and, for a button, the handler a press runs. Each
// toolkit's view builds its controls and connects its buttons from these tables alone, so adding
// or moving a control is one row here and shows on every system.

#include <cstdint>
#include <string>
#include <vector>

namespace app {

class Form1;

// How the code names a control; its place in this list means nothing (the Win32 id is in its row).
enum class ControlId : std::uint8_t {
    Form, // the window itself, as a parent
    Panel1,
    Button1,
    Shape1,
    ComboBox1,
    BitBtn2,
    BitBtn6,
    Panel2,
    Label1,
    Label2,
    Label3,
    Label4,
    Label5,
    Label7,
    Label6,
    Label8,
    ProgressBar1,
    RichEdit1,
    Label9,
    Label11,
    Label12,
    Label13,
    Label10,
    Labelatual,
    Memolog,
};

enum class ControlKind : std::uint8_t {
    Panel,       // raised frame, optional centred caption
    Button,      // push button
    StartButton, // push button with the two-state start picture
    CloseButton, // push button with the standard close picture
    Shape,       // round lamp: outline colour, settable fill, ignores the mouse
    ComboBox,    // drop-down list, pick only
    Label,       // sized to its text
    ProgressBar, // 0 to 100
    HiddenText,  // never shown (the firmware image's store)
    Memo,        // read-only multi-line text, vertical scroll bar only
};

// Colours as 0xRRGGBB.
inline constexpr std::uint32_t clBlack = 0x000000;
inline constexpr std::uint32_t clGreen = 0x008000;
inline constexpr std::uint32_t clRed = 0xFF0000;
inline constexpr std::uint32_t clNavy = 0x000080;

struct FontStyle {
    int points = 8;
    bool bold = false;
};

struct ControlDescription {
    // Automation tools find the control by this id: written once, never reused or renumbered.
    int win32Id;
    ControlId id;
    const char* name;
    ControlKind kind;
    ControlId parent;
    int left, top;
    int width, height; // 0 x 0: sized to the caption
    const char* caption;
    FontStyle font;
    std::uint32_t colour;               // text colour of labels, outline of the shape
    void (Form1::*onClick)() = nullptr; // a button's handler
};

struct FormDescription {
    const char* name;
    std::string caption;
    int width, height;
    bool sizeIsClient; // client area (the main window) or outer size (the change log)
    bool resizable;
    std::vector<ControlDescription> controls; // in creation order: later ones lie over earlier ones
};

const FormDescription& form1Layout();
const FormDescription& form2Layout();

// The control's row in `form`; throws std::out_of_range for a control the form lacks.
const ControlDescription& describedControl(const FormDescription& form, ControlId id);

// The Win32 control id of a control of either form.
int win32IdOf(ControlId id);

} // namespace app
