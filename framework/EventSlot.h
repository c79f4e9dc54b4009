#pragma once

#include <functional>
#include <memory>
#include <utility>

namespace fw {

class TObject;

// An object-bound callback: code plus the object it belongs to. It counts as assigned when its
// code is set; firing an empty slot does nothing. A handler may assign or clear its own slot while
// it runs: the call holds on to the code it started, which lives until the call returns.
template <typename... Args> class TEventSlot {
public:
    using Code = std::function<void(Args...)>;

    TEventSlot() = default;

    // Binds a free callable (usually a lambda); the object part stays empty.
    template <typename F> TEventSlot& operator=(F&& code) {
        code_ = share(Code(std::forward<F>(code)));
        object_ = nullptr;
        return *this;
    }

    // Binds a member function of an object.
    template <typename Obj> void bind(Obj* object, void (Obj::*method)(Args...)) {
        object_ = object;
        code_ = share(
            [object, method](Args... args) { (object->*method)(std::forward<Args>(args)...); });
    }

    void clear() {
        code_ = nullptr;
        object_ = nullptr;
    }

    bool assigned() const { return static_cast<bool>(code_); }
    const void* object() const { return object_; }

    void operator()(Args... args) const {
        if (const std::shared_ptr<const Code> code = code_) (*code)(std::forward<Args>(args)...);
    }

private:
    static std::shared_ptr<const Code> share(Code code) {
        return code ? std::make_shared<const Code>(std::move(code)) : nullptr;
    }

    std::shared_ptr<const Code> code_;
    const void* object_ = nullptr;
};

// The plain notification: only the sender.
using TNotifyEvent = TEventSlot<TObject*>;

} // namespace fw
