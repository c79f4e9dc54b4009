#pragma once

#include "framework/Object.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

// Base of the objects a window is built from: it knows its owner, carries a name and a free tag,
// and two state flags. `loading` is set while stored properties are being restored (setters then
// only record values) and cleared when finishLoading runs; `designing` is set only inside a form
// designer, where a component must not touch real devices.
//
// The owner keeps a list of the components it owns so that it can reach them (for instance to
// finish loading them all); the list does not delete anything: lifetimes are held by whoever
// created the component.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    std::string className() const override { return "TComponent"; }

    TComponent* owner() const { return owner_; }
    const std::vector<TComponent*>& components() const { return components_; }

    const std::string& Name() const { return name_; }
    void setName(const std::string& name) { name_ = name; }
    std::intptr_t Tag() const { return tag_; }
    void setTag(std::intptr_t tag) { tag_ = tag; }

    bool loading() const { return loading_; }
    bool designing() const { return designing_; }
    void setDesigning(bool on) { designing_ = on; }

    // Starts restoring stored properties; finishLoading ends it.
    void beginLoading() { loading_ = true; }
    // The after-load hook. The base clears `loading`; an override calls the base first.
    virtual void finishLoading();

private:
    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::string name_;
    std::intptr_t tag_ = 0;
    bool loading_ = false;
    bool designing_ = false;
};

} // namespace fw
