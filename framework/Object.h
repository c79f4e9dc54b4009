#pragma once

#include <string>

namespace fw {

// Root of the framework's classes: gives every object a class name that messages can quote.
class TObject {
public:
    virtual ~TObject() = default;
    virtual std::string className() const { return "TObject"; }
};

} // namespace fw
