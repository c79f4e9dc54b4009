#include "app/FrameworkBridge.h"

#include "app/Dialogs.h"
#include "app/Texts.h"

#include <QApplication>

namespace app {

FrameworkBridge::FrameworkBridge(Dialogs& dialogs) : dialogs_(dialogs) {
    previousDisplay_ = fw::setErrorDisplay([this](const std::exception& error) {
        dialogs_.error(QApplication::activeWindow(), QString::fromUtf8(programTitle),
                       QString::fromUtf8(error.what()));
    });
}

FrameworkBridge::~FrameworkBridge() {
    fw::setErrorDisplay(std::move(previousDisplay_));
}

} // namespace app
