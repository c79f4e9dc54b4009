#pragma once

#include <functional>
#include <utility>

namespace fw {

class TObject;

// An object-bound callback: code plus the object it belongs to. It counts as assigned when its
// code is set; firing an empty slot does nothing.
template <typename... Args> class TEventSlot {
public:
    using Code = std::function<void(Args...)>;

    TEventSlot() = default;

    // Binds a free callable (usually a lambda); the object part stays empty.
    template <typename F> TEventSlot& operator=(F&& code) {
        code_ = Code(std::forward<F>(code));
        object_ = nullptr;
        return *this;
    }

    // Binds a member function of an object.
    template <typename Obj> void bind(Obj* object, void (Obj::*method)(Args...)) {
        object_ = object;
        code_ = [object, method](Args... args) { (object->*method)(std::forward<Args>(args)...); };
    }

    void clear() {
        code_ = nullptr;
        object_ = nullptr;
    }

    bool assigned() const { return static_cast<bool>(code_); }
    const void* object() const { return object_; }

    void operator()(Args... args) const {
        if (code_) code_(std::forward<Args>(args)...);
    }

private:
    Code code_;
    const void* object_ = nullptr;
};

// The plain notification: only the sender.
using TNotifyEvent = TEventSlot<TObject*>;

} // namespace fw
