#include "app/qt/AdapterWatch.h"

#include "comport/SerialPorts.h"

#include <QSocketNotifier>

#include <cstdio>
#include <exception>

namespace app::qt {

AdapterWatch::AdapterWatch(std::function<void()> onChange, QObject* parent)
    : QObject(parent), onChange_(std::move(onChange)) {
    try {
        watch_ = std::make_unique<comport::SerialPortWatch>();
    } catch (const std::exception& e) {
        std::fprintf(stderr,
                     "torvin-updater: %s; adapters plugged in from now on appear in the port list "
                     "after a restart\n",
                     e.what());
        return;
    }
    notifier_ = new QSocketNotifier(watch_->descriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        if (watch_->changed()) onChange_();
    });
}

AdapterWatch::~AdapterWatch() = default;

} // namespace app::qt
