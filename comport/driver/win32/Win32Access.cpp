// What a user can do about a port that Windows will not open.

#include "comport/PortAccess.h"

#include "framework/Translation.h"

#include <windows.h>

namespace comport {

std::string accessAdvice(const std::string& portName, std::int64_t code) {
    // A serial port is opened by one program at a time: "access denied" means another holds it.
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)
        return fw::tr("{1} is open in another program; close that program and try again.",
                      {portName});
    return {};
}

} // namespace comport
