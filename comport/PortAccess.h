#pragma once

// What a user can do about a port that exists but that the system will not let them open.

#include <cstdint>
#include <string>

namespace comport {

// Why access was refused, as far as the device node and the user's groups tell.
struct AccessFacts {
    std::string device;   // the node: /dev/ttyUSB0
    std::string owner;    // its owner's name ("root")
    std::string group;    // its group's name ("dialout"), or the number when it has none
    bool groupMayUse;     // the group may read and write the node
    std::string user;     // who this program runs as
    bool userInGroup;     // the system's group list has the user in the node's group
    bool sessionHasGroup; // this program runs with the group (the user logged in since)
};

// The advice for these facts: join the group, log in again, or have the node's mode changed.
std::string accessAdvice(const AccessFacts& facts);

// The advice for the port `portName` ("COM1", a path) that could not be opened with the
// platform's error `code`: for access refused, from the node and the user's groups; for a busy
// port, what the lock file says (its holder, or what is wrong with it); empty otherwise.
std::string accessAdvice(const std::string& portName, std::int64_t code);

} // namespace comport
