#pragma once

#include "framework/ErrorDisplay.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace app {

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
