#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace comport {
class SerialPortWatch;
}

namespace app::qt {

// Serves the component's watch on serial adapters from Qt's loop: `onChange` runs on the window's
// thread whenever an adapter is plugged in or pulled out. Where the system offers no such notices
// the list stays as it was at start, and a line on standard error says so.
class AdapterWatch : public QObject {
    Q_OBJECT
public:
    explicit AdapterWatch(std::function<void()> onChange, QObject* parent = nullptr);
    ~AdapterWatch() override;

private:
    std::function<void()> onChange_;
    std::unique_ptr<comport::SerialPortWatch> watch_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace app::qt
