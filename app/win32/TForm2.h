#pragma once

#include "app/win32/FormWindow.h"

namespace app::win32 {

// The change-log window: the firmware's version history as read-only text in a box that follows
// the window's size. Closing it only hides it; its owner frees it.
class TForm2 : public FormWindow {
public:
    TForm2();
    // Change logs already shown when this one opens: it goes that many steps off the centre.
    void setCascade(int index);
    void show();

protected:
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) override;
    void laidOut() override;

private:
    void fitMemo();
    // From the memo's right and bottom edges to the client area's, at 96 dots per inch.
    SIZE margins_{};
};

} // namespace app::win32
