#pragma once

#ifndef _WIN32

// The lock file that the platform's serial tools (terminal programs, dial-out programs) take
// before they open a device: LCK..<device name> in the lock folder, holding the holder's process
// number as ten characters and a line feed. flock and TIOCEXCL do not keep such a program out,
// so the port takes and honours this lock too.

#include <string>

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
    // cannot be written (nothing is taken then, but a lock of a live process still refuses);
    // EBUSY when a live process (this one included) holds the lock; otherwise an errno value. A
    // lock of a process that no longer runs is removed and taken over.
    int take(const std::string& devicePath, const std::string& lockFolder = "/run/lock");
    void release();

    // The lock file's name for a device path: its real path without "/dev/", "/" as "_".
    static std::string nameFor(const std::string& devicePath);

private:
    std::string path_; // the lock file this object took, or empty
};

} // namespace comport::driver::posix

#endif
