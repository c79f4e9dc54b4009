#include "frontend/PortFailure.h"

#include <cerrno>

namespace upload::frontend {

bool portMissing(std::int64_t code) {
    return code == ENOENT || code == ENXIO || code == ENODEV;
}

} // namespace upload::frontend
