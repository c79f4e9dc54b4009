#pragma once

#include <exception>
#include <functional>

namespace fw {

// The application's standard error display: shows the message of a failure that no caller is
// left to handle (an error while a form finishes loading, a failing event handler). The default
// writes the message to standard error; a windowed program replaces it with a message box.
using ErrorDisplay = std::function<void(const std::exception&)>;

// Installs a display (an empty one restores the default) and returns the one it replaces.
ErrorDisplay setErrorDisplay(ErrorDisplay display);

// Shows the failure through the installed display. Never throws: a display that fails itself
// falls back to standard error. It may be called on any thread: a port whose events are handled
// on its event thread (smNone) shows its handlers' failures there. A display that must run on
// the main thread (a message box) hands the message over to it itself.
void showException(const std::exception& error) noexcept;

} // namespace fw
