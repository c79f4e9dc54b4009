#include "comport/PortAccess.h"

#include "framework/Translation.h"

namespace comport {

std::string accessAdvice(const AccessFacts& f) {
    const std::string denied = fw::tr("You (user '{1}') may not open {2}.", {f.user, f.device});
    if (!f.groupMayUse)
        return denied + " " +
               fw::tr("Only its owner '{1}' may (its group '{2}' may not): an administrator must "
                      "give a group read and write access to it (usually 'dialout', through a "
                      "udev rule) and add you to that group.",
                      {f.owner, f.group});
    if (!f.userInGroup)
        return denied + " " +
               fw::tr("It belongs to the group '{1}', and you are not in that group. Have an "
                      "administrator add you to it with\n    sudo usermod -aG {1} {2}\nthen log "
                      "out and log in again, so that your session gets the group.",
                      {f.group, f.user});
    if (!f.sessionHasGroup)
        return denied + " " +
               fw::tr("You are in its group '{1}', but this session started before you were "
                      "added: log out and log in again.",
                      {f.group});
    return denied + " " +
           fw::tr("Its group '{1}' may use it and you have that group, so something else refuses "
                  "access (an access list or a security policy): ask an administrator to look at "
                  "the device.",
                  {f.group});
}

} // namespace comport
