#pragma once

// The main thread's queue: other threads hand calls to the main thread with synchronize() and
// block until it has run them. The framework owns no event loop; whichever loop the program runs
// serves the queue:
//   - an event loop (Qt) installs a wake hook that asks the loop to call checkSynchronize() soon
//     (e.g. posts an event to an object on the main thread);
//   - a plain loop (tests, the command-line tool) calls waitForSynchronize(), which sleeps until
//     something is queued and then serves it;
//   - a Win32 message loop keeps a TMessageLoopService (Win32MessageLoop.h), which posts the
//     loop a window message whose procedure serves the queue, also inside modal loops.
// Serving the queue also serves messages sent to the main thread's hidden windows (the port's
// smWindowSync delivery uses one).
//
// The main thread is the thread that initialised the program (the one that runs main()) unless
// setMainThread() names another.

#include <chrono>
#include <functional>
#include <thread>

namespace fw {

using TWakeHook = std::function<void()>;

// Makes the calling thread the main thread. Calls already queued stay queued for it.
void setMainThread();
bool isMainThread();
std::thread::id mainThreadId();

// Installs the hook called, from the queuing thread, each time a call is queued for the main
// thread or a message is sent to one of its windows; an empty hook removes it. The hook must be
// quick and must not wait for the main thread; it must not call setWakeMainThread(). Once this
// returns, the previous hook is not running and will not be called again. A hook that raises
// leaves nothing queued: the hand-over that called it (synchronize(), or sendMessage() to a main
// thread window) raises that failure instead, unless the main thread had already taken its work.
void setWakeMainThread(TWakeHook hook);

// Runs the calls queued for the main thread and the messages sent to its windows, in the order
// they came; returns whether it ran anything. A failure raised by a queued call goes back to the
// thread that queued it; one that leaves a window procedure is shown by the application's error
// display (see processSentMessages()). Work queued while it runs waits for the next call, so a
// steady stream from another thread cannot keep the loop from its own work. Only on the main
// thread (EThread otherwise); it may be re-entered from a call it runs (a modal loop).
bool checkSynchronize();

// Sleeps until a call is queued for the main thread or a message is sent to one of its windows,
// or until `timeout` passes, then serves them as checkSynchronize() does; returns whether it ran
// anything. No polling: the sleep ends as soon as work arrives. Only on the main thread.
bool waitForSynchronize(std::chrono::milliseconds timeout);

// Runs `call` on the main thread and returns when it has run, raising again here whatever it
// raised. On the main thread it simply calls it. On another thread it queues the call, wakes the
// main thread and blocks, serving messages sent to the calling thread's windows meanwhile; it
// waits as long as the main thread does not serve its queue.
void synchronize(std::function<void()> call);

} // namespace fw
