#pragma once

#ifndef _WIN32

// The lock file that the platform's serial tools (terminal programs, dial-out programs) take
// before they open a device: LCK..<device name> in the lock folder, holding the holder's process
// number as ten characters and a line feed. flock and TIOCEXCL do not keep such a program out,
// so the port takes and honours this lock too.

#include <string>
#include <sys/types.h>

namespace comport::driver::posix {

class PosixLockFile {
public:
    PosixLockFile() = default;
    // Removes the lock if this object took it (and it still names this process).
    ~PosixLockFile();
    PosixLockFile(PosixLockFile&& other) noexcept;
    PosixLockFile& operator=(PosixLockFile&& other) noexcept;
    PosixLockFile(const PosixLockFile&) = delete;
    PosixLockFile& operator=(const PosixLockFile&) = delete;

    // Takes the lock for a device path. Returns 0 when taken, and also when the lock folder
    // cannot be written (nothing is taken then, but a lock of anyone else still refuses); EBUSY
    // when a live process (this one included) holds the lock, or when something that is no
    // readable lock is in its place; otherwise an errno value. A lock whose number no running
    // process has is removed and taken over, by one taker only when several race.
    int take(const std::string& devicePath, const std::string& lockFolder = "/run/lock");
    void release();

    // The lock file's name for a device path: its real path without "/dev/".
    // Ordinary names (ttyS0, ttyUSB0) as they stand; others with "/" and "%" escaped.
    static std::string nameFor(const std::string& devicePath);

    // What in the lock folder keeps the port from being taken, and what to do about it, in
    // words for the user; empty when nothing there does.
    static std::string describe(const std::string& devicePath,
                                const std::string& lockFolder = "/run/lock");

private:
    std::string path_; // the lock file this object took, or empty
    dev_t device_ = 0; // and the file it made there
    ino_t inode_ = 0;
};

} // namespace comport::driver::posix

#endif
