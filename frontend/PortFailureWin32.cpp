#include "frontend/PortFailure.h"

#include <windows.h>

namespace upload::frontend {

bool portMissing(std::int64_t code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

} // namespace upload::frontend
