#include "framework/Persistent.h"

#include "framework/Exception.h"

namespace fw {

void TPersistent::assign(const TPersistent* source) {
    assignError(source);
}

void TPersistent::assignError(const TPersistent* source) const {
    const std::string from = source ? source->className() : std::string("nil");
    throw EConvertError("Cannot assign a " + from + " to a " + className());
}

} // namespace fw
