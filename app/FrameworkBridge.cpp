#include "app/FrameworkBridge.h"

#include "app/Dialogs.h"
#include "app/Texts.h"
#include "framework/MainThread.h"

#include <QApplication>
#include <QThread>

namespace app {

FrameworkBridge::FrameworkBridge(Dialogs& dialogs) : dialogs_(dialogs) {
    fw::setMainThread();
    previousDisplay_ = fw::setErrorDisplay([this](const std::exception& error) {
        QString text = QString::fromUtf8(error.what());
        if (QThread::currentThread() != thread()) {
            // A handler that ran on a port's event thread failed: widgets belong to this thread,
            // so the box is shown from Qt's loop and the failing thread goes on at once.
            QMetaObject::invokeMethod(
                this, [this, text] { showError(text); }, Qt::QueuedConnection);
            return;
        }
        showError(text);
    });
    fw::setWakeMainThread([this] { wake(); });
}

FrameworkBridge::~FrameworkBridge() {
    // Once this returns no thread calls wake() any more; a serve still posted dies with this
    // object (Qt drops the events of a deleted receiver).
    fw::setWakeMainThread({});
    fw::setErrorDisplay(std::move(previousDisplay_));
}

void FrameworkBridge::showError(const QString& text) {
    dialogs_.error(QApplication::activeWindow(), QString::fromUtf8(programTitle), text);
}

void FrameworkBridge::wake() {
    if (servePending_.exchange(true)) return;
    QMetaObject::invokeMethod(this, &FrameworkBridge::serve, Qt::QueuedConnection);
}

void FrameworkBridge::serve() {
    // Cleared first: work queued while checkSynchronize runs posts the next serve.
    servePending_ = false;
    runHandler([] { fw::checkSynchronize(); });
}

} // namespace app
