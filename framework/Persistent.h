#pragma once

#include "framework/Object.h"

namespace fw {

// An object whose settings can be copied from another object. A class that can take the settings
// of a source overrides assign; whatever it cannot take ends in the assignment error
// "Cannot assign a <source class> to a <target class>" ("nil" for an absent source).
class TPersistent : public TObject {
public:
    std::string className() const override { return "TPersistent"; }

    virtual void assign(const TPersistent* source);

protected:
    // Raises the assignment error for this object as target.
    [[noreturn]] void assignError(const TPersistent* source) const;
};

} // namespace fw
