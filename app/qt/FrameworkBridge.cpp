#include "app/qt/FrameworkBridge.h"

#include "app/Texts.h"
#include "app/qt/Dialogs.h"
#include "framework/MainThread.h"

#include <QApplication>
#include <QThread>

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace app::qt {

namespace {

int makeWakeFd() {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(),
                                "cannot create the descriptor that wakes the window's loop");
    return fd;
}

} // namespace

FrameworkBridge::FrameworkBridge(Dialogs& dialogs)
    : dialogs_(dialogs), wakeFd_(makeWakeFd()), wakeNotifier_(wakeFd_, QSocketNotifier::Read) {
    connect(&wakeNotifier_, &QSocketNotifier::activated, this, &FrameworkBridge::serve);
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
    // Once this returns no thread calls wake() any more.
    fw::setWakeMainThread({});
    fw::setErrorDisplay(std::move(previousDisplay_));
    wakeNotifier_.setEnabled(false);
    ::close(wakeFd_);
}

void FrameworkBridge::showError(const QString& text) {
    dialogs_.error(QApplication::activeWindow(), QString::fromUtf8(programTitle), text);
}

void FrameworkBridge::wake() {
    if (servePending_.exchange(true)) return;
    const std::uint64_t one = 1;
    // Fails only when the counter would overflow, and it is taken back at every serve.
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void FrameworkBridge::serve() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
    // Cleared before serving: work queued while checkSynchronize runs rings again. Work queued
    // before a wake that found it still set is served here.
    servePending_ = false;
    runHandler([] { fw::checkSynchronize(); });
}

} // namespace app::qt
