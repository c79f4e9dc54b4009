#include "framework/ErrorDisplay.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace fw {

namespace {

std::mutex displayLock;
ErrorDisplay installed;

void printToStderr(const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    std::fflush(stderr);
}

} // namespace

ErrorDisplay setErrorDisplay(ErrorDisplay display) {
    std::lock_guard lock(displayLock);
    return std::exchange(installed, std::move(display));
}

void showException(const std::exception& error) noexcept {
    ErrorDisplay display;
    {
        std::lock_guard lock(displayLock);
        display = installed;
    }
    try {
        if (display) {
            display(error);
            return;
        }
    } catch (...) {
    }
    printToStderr(error);
}

} // namespace fw
