#pragma once

// Port names and the device each one opens, as the component itself resolves them when it opens
// a port: for programs that show or record which device a name stood for.

#include <optional>
#include <string>

namespace comport {

// The device a port name opens. On Linux "COMn" is /dev/ttyS(n-1), "\\.\" in front is dropped,
// a path is used as it stands and a bare name is looked up in /dev; on Windows a COM name is the
// device's own name. Nothing for a name that cannot be a device.
std::optional<std::string> deviceOfPortName(const std::string& name);

} // namespace comport
