#pragma once

// Internal to the framework: the shared state behind the main-thread queue, the message windows
// and the thread class. One lock guards all of it; the work done under it is a few pointer moves,
// and a single lock makes the hand-overs between queue, windows and waits easy to reason about.
// Procedures and queued calls always run with the lock released.

#include "framework/MainThread.h"
#include "framework/MessageWindow.h"
#include "framework/Parker.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace fw::detail {

struct Inbox;
struct NativeWindow; // NativeWindowWin32.cpp

struct WindowEntry {
    TWindowHandle handle = 0;
    std::shared_ptr<Inbox> owner;
    TWindowProc procedure; // set once, read without the lock
    bool alive = true;
    // Windows: the system window that stands for it on the owner thread (NativeWindowWin32.cpp),
    // so that the thread's own message loop serves what is sent to it. Set once, at creation.
    void* native = nullptr;
    std::shared_ptr<NativeWindow> system;
};

// The system's side of a hidden window (NativeWindowWin32.cpp; nothing elsewhere). Created and
// destroyed on the owner thread.
void createNativeWindow(WindowEntry& entry);
void destroyNativeWindow(WindowEntry& entry) noexcept;
// After a message has been queued for the entry from another thread: asks the owner thread's
// message loop to serve it. Never with Hub::lock held.
void wakeNativeWindow(WindowEntry& entry) noexcept;

// A message sent from another thread, waiting in (or being served from) the owner's inbox.
struct SentMessage {
    std::shared_ptr<WindowEntry> target;
    TMessage message;
    std::shared_ptr<Inbox> sender;
    bool released = false; // the sender may return; `result` holds its answer
    std::intptr_t result = 0;
};

// A call queued for the main thread by synchronize(). It lives on the caller's stack, which waits
// until `done`, so a hand-over allocates nothing.
struct SyncCall {
    const std::function<void()>* call = nullptr;
    std::exception_ptr failure;    // written before `done`
    std::shared_ptr<Inbox> caller; // to wake once done
    std::atomic<bool> done{false}; // the last thing the main thread touches
    SyncCall* next = nullptr;      // in Hub's queue
};

// What one thread is asked to serve, and the token it sleeps on while it waits for anything (a
// sent message, a queued call when it is the main thread, an answer, a thread ending). Whoever
// changes what the thread waits for unparks it, after letting go of the lock.
struct Inbox {
    Parker parker;
    std::deque<std::shared_ptr<SentMessage>> sent;
    bool closed = false;  // the thread has ended
    bool adopted = false; // a thread has taken this inbox as its own
};

struct Hub {
    std::mutex lock;
    std::thread::id mainThread;
    std::shared_ptr<Inbox> mainInbox;
    // Calls queued for the main thread, oldest first (an intrusive list).
    SyncCall* firstCall = nullptr;
    SyncCall* lastCall = nullptr;
    std::size_t callCount = 0;
    std::unordered_map<TWindowHandle, std::shared_ptr<WindowEntry>> windows;
    TWindowHandle nextHandle = 1;

    // The hook has a lock of its own, held while it runs, so that replacing it waits for calls
    // in flight and an old hook is never called after setWakeMainThread() has returned.
    std::mutex hookLock;
    TWakeHook wakeHook;
};

Hub& hub();

// The calling thread's inbox, made on first use and closed when the thread ends.
std::shared_ptr<Inbox> currentInbox();

// Calls the wake hook, if any, and gives what it raised (null when it did not). Never with
// Hub::lock held.
std::exception_ptr callWakeHook() noexcept;

// Takes a call back out of the main thread's queue; false when the main thread has taken it
// already. Lock held.
bool withdrawCallLocked(Hub& h, SyncCall& call);

// Answers a sent message; nothing if it was answered already. Lock held. Gives the sender to wake
// (unpark()) once the lock is let go, or null.
[[nodiscard]] std::shared_ptr<Inbox> releaseLocked(SentMessage& message, std::intptr_t result);

// Whether the thread of `inbox` has sent messages to serve, or queued calls when it is the main
// thread. Lock held.
bool hasWorkLocked(const Hub& h, const Inbox& inbox, bool isMain);

// Serves the calling thread's sent messages (bounded by what was queued on entry). A failure
// that leaves a procedure is shown by the application's error display once its sender has been
// released, and serving goes on: no caller is left to handle it. Never throws.
bool serveSentMessages() noexcept;

// Runs the calls queued for the main thread (bounded by what was queued on entry). Main only.
// Never throws: a call's failure goes to the thread that queued it.
bool runQueuedCalls() noexcept;

// Blocks the calling thread until `done()` (evaluated with the lock held) is true, serving its
// sent messages meanwhile, and the main-thread queue too when `runCalls` is set and it is the
// main thread. `lock` is held on entry and on return. `done` must become true only with the
// lock held or followed by an unpark() of the waiting thread.
void waitServing(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Inbox>& self,
                 const std::function<bool()>& done, bool runCalls);

// The sent message whose procedure is running on this thread (null for a direct call or none);
// inSendMessage() and replyMessage() look at it.
SentMessage*& currentSent();

class CurrentSentScope {
public:
    explicit CurrentSentScope(SentMessage* message) : saved_(currentSent()) {
        currentSent() = message;
    }
    ~CurrentSentScope() { currentSent() = saved_; }
    CurrentSentScope(const CurrentSentScope&) = delete;
    CurrentSentScope& operator=(const CurrentSentScope&) = delete;

private:
    SentMessage* saved_;
};

bool isMainLocked(const Hub& h);

} // namespace fw::detail
