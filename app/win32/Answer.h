#pragma once

#include <string>

namespace app::win32 {

// Answers on the command line: a program of the window subsystem has no console of its own, so
// the text goes to the standard handle it was given (a console, a file, a pipe), else into a
// message box. `error` picks standard error and an error icon.
void answer(const std::string& text, bool error);

} // namespace app::win32
