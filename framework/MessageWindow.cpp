#include "framework/MessageWindow.h"

#include "framework/ThreadHub.h"

#include <algorithm>

namespace fw {

using detail::hub;

TMessageWindow::TMessageWindow(TWindowProc procedure) : owner_(std::this_thread::get_id()) {
    auto entry = std::make_shared<detail::WindowEntry>();
    entry->owner = detail::currentInbox();
    entry->procedure = std::move(procedure);
    auto& h = hub();
    {
        std::lock_guard l(h.lock);
        handle_ = entry->handle = h.nextHandle++;
    }
    detail::createNativeWindow(*entry);
    native_ = entry->native;
    std::lock_guard l(h.lock);
    h.windows.emplace(handle_, std::move(entry));
}

TMessageWindow::~TMessageWindow() {
    auto& h = hub();
    std::unique_lock l(h.lock);
    auto it = h.windows.find(handle_);
    if (it == h.windows.end()) return;
    auto entry = std::move(it->second);
    h.windows.erase(it);
    entry->alive = false;
    l.unlock();
    detail::destroyNativeWindow(*entry);
    l.lock();
    // Senders still waiting for this window get their answer now: it will never serve them.
    auto& queue = entry->owner->sent;
    auto gone = std::remove_if(queue.begin(), queue.end(), [&](const auto& m) {
        if (m->target != entry) return false;
        // Woken under the lock: this happens once per window, not per message.
        if (auto sender = detail::releaseLocked(*m, 0)) sender->parker.unpark();
        return true;
    });
    queue.erase(gone, queue.end());
}

std::intptr_t sendMessage(TWindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                          std::intptr_t lParam) {
    auto self = detail::currentInbox();
    auto& h = hub();
    std::unique_lock l(h.lock);
    auto it = h.windows.find(window);
    if (it == h.windows.end()) return 0;
    auto target = it->second;
    if (target->owner == self) {
        l.unlock();
        TMessage message{msg, wParam, lParam, 0};
        detail::CurrentSentScope scope(nullptr);
        target->procedure(message);
        return message.result;
    }
    if (target->owner->closed) return 0;

    auto sent = std::make_shared<detail::SentMessage>();
    sent->target = target;
    sent->message = TMessage{msg, wParam, lParam, 0};
    sent->sender = self;
    target->owner->sent.push_back(sent);
    const bool toMain = target->owner == h.mainInbox;
    l.unlock();
    target->owner->parker.unpark();
    detail::wakeNativeWindow(*target);
    const std::exception_ptr wakeFailure = toMain ? detail::callWakeHook() : nullptr;
    l.lock();
    if (wakeFailure) {
        // Nobody would wait for its answer: the message goes unless it is being served already.
        auto& queue = target->owner->sent;
        if (auto it = std::find(queue.begin(), queue.end(), sent); it != queue.end()) {
            queue.erase(it);
            l.unlock();
            std::rethrow_exception(wakeFailure);
        }
    }
    detail::waitServing(
        l, self, [&] { return sent->released; }, false);
    return sent->result;
}

bool inSendMessage() {
    return detail::currentSent() != nullptr;
}

bool replyMessage(std::intptr_t result) {
    detail::SentMessage* current = detail::currentSent();
    if (!current) return false;
    auto& h = hub();
    std::shared_ptr<detail::Inbox> sender;
    {
        std::lock_guard l(h.lock);
        if (current->released) return false;
        sender = detail::releaseLocked(*current, result);
    }
    if (sender) sender->parker.unpark();
    return true;
}

std::intptr_t defWindowProc(TWindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
    return 0;
}

bool processSentMessages() noexcept {
    return detail::serveSentMessages();
}

bool waitForSentMessages(std::chrono::milliseconds timeout) {
    auto self = detail::currentInbox();
    auto& h = hub();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard l(h.lock);
            if (!self->sent.empty()) break;
        }
        if (!self->parker.park(deadline)) break;
    }
    return processSentMessages();
}

} // namespace fw
