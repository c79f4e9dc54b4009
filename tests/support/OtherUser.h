#pragma once

// Runs a stretch of a test as the unprivileged user "nobody", so that a device node's permissions
// apply as they do to a technician. Only root can switch; elsewhere possible() is false and the
// test skips.

#include <string>
#include <sys/types.h>

namespace testsupport {

class AsNobody {
public:
    static bool possible();
    AsNobody();  // effective user and group become nobody's
    ~AsNobody(); // back to root
    AsNobody(const AsNobody&) = delete;
    AsNobody& operator=(const AsNobody&) = delete;

    static std::string userName();
};

// The node `path` made readable and writable by its group only (mode 0660); the name of that
// group is returned.
std::string openToGroupOnly(const std::string& path);

} // namespace testsupport
