#pragma once

#include <QIcon>

namespace app::qt {

// The start button's picture: a chip receiving an arrow, drawn in colour for the normal state and
// in greys for the disabled state.
QIcon uploadGlyph();

} // namespace app::qt
