#include "comport/PortAccess.h"

namespace comport {

std::string accessAdvice(const AccessFacts& f) {
    const std::string denied = "You (user '" + f.user + "') may not open " + f.device + ". ";
    if (!f.groupMayUse)
        return denied + "Only its owner '" + f.owner + "' may (its group '" + f.group +
               "' may not): an administrator must give a group read and write access to it "
               "(usually 'dialout', through a udev rule) and add you to that group.";
    if (!f.userInGroup)
        return denied + "It belongs to the group '" + f.group +
               "', and you are not in that group. Have an administrator add you to it with\n"
               "    sudo usermod -aG " +
               f.group + " " + f.user +
               "\nthen log out and log in again, so that your session gets the group.";
    if (!f.sessionHasGroup)
        return denied + "You are in its group '" + f.group +
               "', but this session started before you were added: log out and log in again.";
    return denied + "Its group '" + f.group +
           "' may use it and you have that group, so something else refuses access (an access "
           "list or a security policy): ask an administrator to look at the device.";
}

} // namespace comport
