#pragma once

namespace upload {

// The version of this build, the project's one number (CMakeLists.txt at the root): what every
// program's --version prints and every run record carries.
const char* programVersion();

} // namespace upload
