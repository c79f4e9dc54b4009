#pragma once

#include "cli/torvin-upload/UploadSession.h"

namespace torvinupload {

// Serves the framework's main-thread queue, where the port's event thread hands its events over:
// sleeps until a call is queued (the queue wakes it) or the time comes.
class MainThreadPump : public EventPump {
public:
    Clock::time_point now() override { return Clock::now(); }
    void serve(Clock::time_point until) override;
};

} // namespace torvinupload
