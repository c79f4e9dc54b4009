#include "tools/torvin-upload/InterruptWatch.h"

#include "framework/MainThread.h"

#include <pthread.h>

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

InterruptWatch::InterruptWatch() : watched_(watchedSignals()) {
    pthread_sigmask(SIG_BLOCK, &watched_, &previous_);
    thread_ = std::thread([this] { watch(); });
}

InterruptWatch::~InterruptWatch() {
    pthread_kill(thread_.native_handle(), quitSignal);
    // The thread may be waiting for the main thread to take its wake-up call.
    while (!done_.load())
        fw::waitForSynchronize(std::chrono::milliseconds(10));
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void InterruptWatch::watch() {
    for (;;) {
        int number = 0;
        if (sigwait(&watched_, &number) != 0 || number == quitSignal) break;
        int none = 0;
        // The first request counts; a second Ctrl-C while the run ends changes nothing.
        if (signal_.compare_exchange_strong(none, number)) fw::synchronize([] {});
    }
    done_.store(true);
}

} // namespace torvinupload
