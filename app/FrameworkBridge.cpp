#include "app/FrameworkBridge.h"

#include "app/Dialogs.h"
#include "app/Texts.h"
#include "framework/MainThread.h"

#include <QApplication>

namespace app {

FrameworkBridge::FrameworkBridge(Dialogs& dialogs) : dialogs_(dialogs) {
    fw::setMainThread();
    previousDisplay_ = fw::setErrorDisplay([this](const std::exception& error) {
        dialogs_.error(QApplication::activeWindow(), QString::fromUtf8(programTitle),
                       QString::fromUtf8(error.what()));
    });
    fw::setWakeMainThread([this] { wake(); });
}

FrameworkBridge::~FrameworkBridge() {
    // Once this returns no thread calls wake() any more; a serve still posted dies with this
    // object (Qt drops the events of a deleted receiver).
    fw::setWakeMainThread({});
    fw::setErrorDisplay(std::move(previousDisplay_));
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
