#pragma once

// A thread object: derive from TThread, put the body in execute(), and create it with
// TThread::create<T>(args...).
//
// Why a factory: a body that starts from the base constructor could run before the derived
// constructor has set up what it uses, and would see a half-built object. So the base
// constructor creates the platform thread held at a gate (it exists, has an id and can be given a
// priority, but runs nothing) and start() opens the gate. create<T>() calls start() after the
// whole constructor of T has returned, whatever the depth of derivation. A class may instead call
// start() as the last statement of its constructor, if it is final.
//
// Ending: ask the body to return, then wait with waitFor(). The owner returned by create<T>()
// does both before the object is destroyed: it calls terminate() and waits, so the body never
// runs on a half-destroyed object. terminate() calls terminatedSet(); a body that sleeps on a
// signal of its own (an event, a descriptor) must override terminatedSet() to raise that signal,
// or the owner waits for it forever. An object destroyed any other way must see to the same in
// the destructor of the most-derived class (its stop signal, then waitFor()), because members of a
// derived class are gone by the time ~TThread runs; ~TThread waits as well, as a last resort for
// classes without state of their own.
//
// Waiting on the main thread keeps serving the main-thread queue and the messages sent to the
// main thread's windows, so a body that is inside synchronize() or sendMessage() towards the
// main thread when it is asked to stop can finish that hand-over and return.

#include "framework/MainThread.h"
#include "framework/Object.h"
#include "framework/ThreadPriority.h"

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace fw {

class TThread : public TObject {
public:
    // Stops (terminate()) and waits (waitFor()) before deleting.
    struct Release {
        void operator()(TThread* thread) const noexcept;
    };
    template <typename T> using Ptr = std::unique_ptr<T, Release>;

    // Constructs a T and starts its body once the constructor has returned.
    template <typename T, typename... Args> static Ptr<T> create(Args&&... args) {
        Ptr<T> thread(new T(std::forward<Args>(args)...));
        thread->start();
        return thread;
    }

    // Waits for the body (serving as waitFor() does). Never throws; on the thread itself it does
    // not wait but lets the platform thread end on its own.
    ~TThread() override;

    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    std::string className() const override { return "TThread"; }

    // Opens the gate: the body starts. Once only (EThread on a second call).
    void start();

    // Sets the terminate request, then calls terminatedSet(). The body decides when to look at
    // terminated(); nothing is interrupted.
    void terminate();
    bool terminated() const { return terminated_.load(std::memory_order_acquire); }

    // Blocks until the body has returned and the platform thread has ended. On the main thread it
    // serves the main-thread queue and the main thread's windows meanwhile; on any thread it
    // serves the messages sent to that thread's windows. Returns at once for a thread never
    // started or already ended. EThread when called on the thread itself.
    void waitFor();

    // Whether the body has returned (or will never run).
    bool finished() const;

    // The failure that escaped the body, once it has returned; null otherwise.
    std::exception_ptr fatalException() const;

    // The platform's id of the thread (Linux or Windows thread id), fixed at construction.
    ThreadId threadId() const { return tid_; }

    // Best-effort mapping onto the platform's scheduling, relative to the nice value the thread
    // had when it was created (that of the creating thread): tpNormal keeps it; tpLower +5,
    // tpLowest +10; tpHigher -5, tpHighest -10 (bounded at -20); tpTimeCritical -20; tpIdle
    // moves the thread to the idle scheduling class, which runs only when nothing else wants the
    // processor. Raising a priority, or lowering the nice value again, needs the privilege to do
    // so (root, CAP_SYS_NICE or RLIMIT_NICE); a refusal raises EThread "Thread Error: <system
    // message> (<code>)" and the priority stays as it was. On a thread that has ended the value is
    // only recorded.
    TThreadPriority priority() const;
    void setPriority(TThreadPriority priority);

    // Runs `call` on the main thread and waits for it (see fw::synchronize()).
    static void synchronize(std::function<void()> call) { fw::synchronize(std::move(call)); }

protected:
    // Creates the platform thread held at the gate. EThread "Thread Error: ..." when the platform
    // refuses to create a thread.
    TThread();

    // The body, run on the thread once started. A failure that leaves it is caught and kept
    // (fatalException()); the thread then ends normally.
    virtual void execute() = 0;

    // Called by terminate() on the calling thread, after the request is set: a body that sleeps on
    // something of its own can be woken here. Does nothing by default.
    virtual void terminatedSet() {}

private:
    struct State; // what the platform thread shares with the object; outlives either of them
    static void run(std::shared_ptr<State> state, TThread* self);
    void stopAndWait() noexcept;

    std::shared_ptr<State> state_;
    std::thread thread_;
    std::thread::id id_;
    ThreadId tid_ = 0;
    std::once_flag joined_;
    std::atomic<bool> terminated_{false};
};

} // namespace fw
