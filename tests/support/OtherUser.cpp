#include "tests/support/OtherUser.h"

#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

namespace {
constexpr uid_t nobodyId = 65534;
}

bool AsNobody::possible() {
    return ::geteuid() == 0;
}

AsNobody::AsNobody() {
    // Group first: once the user is nobody it may no longer change its group.
    if (::setegid(nobodyId) != 0 || ::seteuid(nobodyId) != 0)
        throw std::runtime_error("cannot switch to the user nobody");
}

AsNobody::~AsNobody() {
    // A destructor cannot throw; going on as nobody would fail every later test for no fault of
    // its own, so the program stops here, saying why.
    if (::seteuid(0) != 0 || ::setegid(0) != 0) {
        std::perror("cannot switch back from the user nobody to root");
        std::abort();
    }
}

std::string AsNobody::userName() {
    const passwd* p = ::getpwuid(nobodyId);
    return p ? p->pw_name : std::to_string(nobodyId);
}

std::string openToGroupOnly(const std::string& path) {
    struct stat node {};
    if (::chmod(path.c_str(), 0660) != 0 || ::stat(path.c_str(), &node) != 0)
        throw std::runtime_error("cannot change the mode of " + path);
    const group* g = ::getgrgid(node.st_gid);
    return g ? g->gr_name : std::to_string(node.st_gid);
}

} // namespace testsupport
