#pragma once

#include "app/FormLayout.h"

#include <QString>

#include <map>

class QLabel;
class QWidget;

namespace app::qt {

QString qs(const std::string& s);

// Creates the controls of `form` on `window` (already sized), each at its place with its caption,
// font and colour, and returns them by name.
std::map<ControlId, QWidget*> buildControls(const FormDescription& form, QWidget* window);

// A label's new text; the label keeps fitting it.
void setLabelText(QLabel* label, const QString& text);

} // namespace app::qt
