#include "upload/ProgramVersion.h"

namespace upload {

const char* programVersion() {
    return TORVIN_VERSION;
}

} // namespace upload
