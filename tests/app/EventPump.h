#pragma once

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>

// Runs Qt's event loop until `done` holds or `limit` passes; returns whether it holds. The limit
// only keeps a broken run from hanging the suite.
inline bool pumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    if (done()) return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return done();
}
