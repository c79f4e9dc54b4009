#pragma once

#include <windows.h>

#include <commctrl.h>

namespace app::win32 {

// The buttons' pictures as image lists for BCM_SETIMAGELIST, drawn for `side` pixels:
//  - the start button's two states: a chip receiving an arrow, in colour, and in greys when the
//    button is disabled;
//  - the close button's standard picture: a red cross.
// The caller destroys the list.
HIMAGELIST startButtonPictures(int side);
HIMAGELIST closeButtonPictures(int side);

} // namespace app::win32
