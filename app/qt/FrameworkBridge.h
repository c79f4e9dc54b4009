#pragma once

#include "app/RunHandler.h"
#include "framework/ErrorDisplay.h"

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <atomic>
#include <exception>

namespace app::qt {

class Dialogs;

// Joins Qt's event loop and the framework for as long as it lives:
//  - calls that other threads queue for the main thread (the port's event hand-overs) are run
//    from Qt's loop, also from the nested loops of modal boxes: the wake hook rings a descriptor
//    that any loop watches (one system call and no allocation per hand-over, where a posted event
//    would allocate and take Qt's queue lock besides waking the loop);
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
    int wakeFd_; // an eventfd that the loop watches
    QSocketNotifier wakeNotifier_;
    // Set while the descriptor has been rung and not yet served, so a burst of wakes rings once.
    std::atomic<bool> servePending_{false};
};

} // namespace app::qt
