#pragma once

// Hidden message windows: a window is a procedure that belongs to the thread that created it.
// Other threads reach it with sendMessage(), which blocks until the owner thread has run the
// procedure (or the procedure has released the sender early with replyMessage()). This is how a
// background thread hands work to a particular thread without a lock around the receiver's state.
//
// Who serves the sent messages of a thread's windows:
//   - the main thread: checkSynchronize() and waitForSynchronize() (MainThread.h), so whatever
//     loop serves the main-thread queue (Qt's, or a plain loop) serves its windows too;
//   - any thread: processSentMessages() or waitForSentMessages() below, a TThread::waitFor() made
//     on it, and its own blocking calls into this layer (sendMessage, synchronize), which serve
//     messages sent to its windows while they wait, so two threads sending to each other's
//     windows cannot deadlock.
//   - on Windows also the thread's own message loop (GetMessage/DispatchMessage, and the modal
//     loops of message boxes and dialogs): each hidden window is a system window too, a
//     message-only one owned by the same thread, and a message sent from another thread posts it
//     a request to serve, so a program with a native loop needs no call of its own. Messages sent
//     or posted with the system's SendMessage/PostMessage to nativeHandle(), in the range from
//     wmUser up, run the window's procedure the same way (as a direct call).
// A window owned by a thread that never serves leaves its senders blocked, as the platform's
// windows do; a thread that owns windows must run one of the above. When a thread ends, sends to
// the windows it still owns return 0 at once.

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace fw {

// Names a window. Handles are never reused, so a handle kept after its window is gone finds
// nothing instead of a newer window. 0 names no window.
using TWindowHandle = std::uintptr_t;

// One message as the window procedure sees it; the procedure sets `result`.
struct TMessage {
    std::uint32_t msg = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::intptr_t result = 0;
};

inline constexpr std::uint32_t wmNull = 0x0000;
inline constexpr std::uint32_t wmUser = 0x0400; // first number free for a program's own messages

using TWindowProc = std::function<void(TMessage&)>;

// A hidden window whose procedure runs on the thread that constructed it. On Windows the
// constructor raises fw::Exception when the system refuses the system window.
//
// Destroy it on its owner thread, and not while other code may still send to it expecting a
// procedure that uses freed state: destruction releases every sender still blocked on it (their
// sendMessage() returns 0) and later sends to its handle return 0. A message whose procedure is
// running when the window is destroyed finishes normally.
class TMessageWindow {
public:
    explicit TMessageWindow(TWindowProc procedure);
    ~TMessageWindow();
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;

    TWindowHandle handle() const { return handle_; }
    // The thread that made it, which serves its messages.
    std::thread::id ownerThread() const { return owner_; }
    // Windows: the system window (HWND) that stands for it; null elsewhere.
    void* nativeHandle() const { return native_; }

private:
    TWindowHandle handle_;
    std::thread::id owner_;
    void* native_ = nullptr;
};

// Delivers a message to a window's procedure and returns the result it set (or gave to
// replyMessage()). On the owner thread the procedure is called directly. From another thread the
// call blocks until the owner thread has taken and answered the message, serving messages sent to
// the caller's own windows meanwhile. Returns 0 without calling anything when the window does not
// exist (any more), is destroyed while the caller waits, or belongs to a thread that has ended.
std::intptr_t sendMessage(TWindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                          std::intptr_t lParam);

// Inside a window procedure: whether the message being handled was sent from another thread
// (which is then blocked until the procedure returns or replies). False for a direct call on the
// owner thread and outside any procedure.
bool inSendMessage();

// Inside a window procedure handling a message sent from another thread: answers it now with
// `result` and releases the sender, while the procedure goes on. Returns whether a sender was
// released; false for a direct call, a message already answered, or outside any procedure.
bool replyMessage(std::intptr_t result);

// What a procedure returns for a message it does not handle. The hidden windows have no
// behaviour of their own, so every message gets 0.
std::intptr_t defWindowProc(TWindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                            std::intptr_t lParam);

// Runs the procedures for the messages sent so far to windows of the calling thread, in the order
// they were sent; returns whether it ran any. A failure that leaves a procedure releases its
// sender (with 0) and is shown by the application's error display (ErrorDisplay.h), since no
// caller is left to handle it; the following messages are served as usual.
bool processSentMessages() noexcept;

// Sleeps until a message is sent to a window of the calling thread or `timeout` passes, then
// serves as processSentMessages() does. On the main thread use waitForSynchronize() instead,
// which also serves the main-thread queue.
bool waitForSentMessages(std::chrono::milliseconds timeout);

} // namespace fw
