#pragma once

#include <QFont>
#include <QSize>

class QWidget;

namespace app::qt {

// The windows' font: MS Sans Serif where the machine has it, otherwise a sans-serif of similar
// width.
QFont formFont(int pointSize = 8, bool bold = false);

// The client size of a window whose outer size, with a usual title bar and border, is `outer`.
QSize clientSizeFor(QSize outer);

// Moves a top-level window so that it, frame included, sits in the middle of its screen, shrunk
// to the screen if it is larger.
void centreOnScreen(QWidget* window);

} // namespace app::qt
