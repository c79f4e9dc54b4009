#include "framework/Component.h"

#include <algorithm>

namespace fw {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
    // Owned components may outlive their owner; they must not point at a dead object.
    for (TComponent* c : components_)
        c->owner_ = nullptr;
    if (owner_) std::erase(owner_->components_, this);
}

void TComponent::finishLoading() {
    loading_ = false;
}

} // namespace fw
