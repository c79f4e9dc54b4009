#include "cli/torvin-upload/InterruptWatch.h"

#include "framework/MainThread.h"

#include <pthread.h>
#include <thread>

namespace torvinupload {
namespace {

// Tells the watching thread to end; never sent from outside.
constexpr int quitSignal = SIGUSR1;

bool ignored(int number) {
    struct sigaction current {};
    return sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// A signal the program was started with ignored (nohup, a background job of a script) stays
// ignored, as it would without the watch.
sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int number : {SIGINT, SIGTERM})
        if (!ignored(number)) sigaddset(&set, number);
    sigaddset(&set, quitSignal);
    return set;
}

} // namespace

struct InterruptWatch::Platform {
    sigset_t watched = watchedSignals();
    sigset_t previous{};
    std::atomic<bool> done{false};
    std::thread thread;
};

InterruptWatch::InterruptWatch() : platform_(std::make_unique<Platform>()) {
    Platform& p = *platform_;
    pthread_sigmask(SIG_BLOCK, &p.watched, &p.previous);
    p.thread = std::thread([this, &p] {
        for (;;) {
            int number = 0;
            if (sigwait(&p.watched, &number) != 0 || number == quitSignal) break;
            record(number);
        }
        p.done.store(true);
    });
}

InterruptWatch::~InterruptWatch() {
    Platform& p = *platform_;
    pthread_kill(p.thread.native_handle(), quitSignal);
    // The thread may be waiting for the main thread to take its wake-up call.
    while (!p.done.load())
        fw::waitForSynchronize(std::chrono::milliseconds(10));
    p.thread.join();
    pthread_sigmask(SIG_SETMASK, &p.previous, nullptr);
}

} // namespace torvinupload
