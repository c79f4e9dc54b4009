#ifndef _WIN32

// The facts behind "Permission denied" on a serial device: the node's owner, group and mode, and
// the user's groups, both as the system lists them and as this process holds them; and behind
// "Device or resource busy", the serial tools' lock file.

#include "comport/PortAccess.h"
#include "comport/driver/posix/PosixDevice.h"

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace comport {

namespace {

std::string userName(uid_t uid) {
    const passwd* p = ::getpwuid(uid);
    return p ? p->pw_name : std::to_string(uid);
}

std::string groupName(gid_t gid) {
    const group* g = ::getgrgid(gid);
    return g ? g->gr_name : std::to_string(gid);
}

// The groups the system's lists give the user, the primary one included.
bool listedInGroup(uid_t uid, gid_t gid) {
    const passwd* p = ::getpwuid(uid);
    if (!p) return false;
    const std::string name = p->pw_name;
    const gid_t primary = p->pw_gid;
    int count = 32;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    while (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0)
        groups.resize(static_cast<std::size_t>(count));
    groups.resize(static_cast<std::size_t>(count));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

bool sessionHas(gid_t gid) {
    if (::getegid() == gid) return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.end();
}

} // namespace

std::string accessAdvice(const std::string& portName, std::int64_t code) {
    const auto path = driver::posix::resolveDevicePath(portName);
    // A port held through the serial tools' lock file: by whom, or what is in its place.
    if (code == EBUSY && path) return driver::posix::PosixLockFile::describe(*path);
    if (code != EACCES) return {};
    struct stat node {};
    if (!path || ::stat(path->c_str(), &node) != 0) return {};
    AccessFacts facts;
    facts.device = *path;
    facts.owner = userName(node.st_uid);
    facts.group = groupName(node.st_gid);
    facts.groupMayUse = (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    facts.user = userName(::geteuid());
    facts.userInGroup = listedInGroup(::geteuid(), node.st_gid);
    facts.sessionHasGroup = sessionHas(node.st_gid);
    return accessAdvice(facts);
}

} // namespace comport

#endif
