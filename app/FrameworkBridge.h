#pragma once

#include "framework/ErrorDisplay.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <exception>
#include <stdexcept>
#include <utility>

namespace app {

class Dialogs;

// Joins Qt's event loop and the framework for as long as it lives:
//  - calls that other threads queue for the main thread (the port's event hand-overs) are run
//    from Qt's loop, also from the nested loops of modal boxes, since the wake hook posts an event
//    that any loop dispatches;
//  - the framework's error display becomes an error box with the program's title.
// Create it on the main thread, after the QApplication and before any port opens.
class FrameworkBridge : public QObject {
    Q_OBJECT
public:
    explicit FrameworkBridge(Dialogs& dialogs);
    ~FrameworkBridge() override;

private:
    void wake();
    void serve();
    void showError(const QString& text);

    Dialogs& dialogs_;
    fw::ErrorDisplay previousDisplay_;
    // Set while a serve is posted and not yet run, so that a burst of wakes posts one event.
    std::atomic<bool> servePending_{false};
};

// Runs a button's or the timer's handler: a failure that leaves it is shown by the application's
// error display and the program goes on.
template <typename Handler> void runHandler(Handler&& handler) noexcept {
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& error) {
        fw::showException(error);
    } catch (...) {
        fw::showException(std::runtime_error("An unexpected error stopped the action."));
    }
}

} // namespace app
