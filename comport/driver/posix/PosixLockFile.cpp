#ifndef _WIN32

#include "comport/driver/posix/PosixLockFile.h"

#include "framework/Translation.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

// Everything in the lock folder is written by other users too: a file there is opened only when
// it is a regular one, never through a link and never so that the open can wait.

namespace comport::driver::posix {

namespace {

// For a command the user may paste into a shell: the path in single quotes, its own quotes kept.
std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A number that no process can have (beyond pid_t, or not above 0) is a holder that has ended,
// as is one that kill() finds nowhere. pid_max is not consulted: it can be lowered while a
// process with a higher number still runs, and kill() answers for that process too.
bool running(long long pid) {
    if (pid <= 0 || pid > INT_MAX) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The holder's number: ten characters of text, a number then blanks or the end ("      4749\n";
// some tools add more words after a blank), or (older tools) four binary bytes. Nothing when
// the content names no number: such a lock may be one being written.
bool holderNumber(const char* text, std::size_t n, long long& pid) {
    auto isText = [](char c) { return c == ' ' || c == '\n' || (c >= '0' && c <= '9'); };
    if (n == 4 && !std::all_of(text, text + 4, isText)) {
        std::int32_t binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        pid = binary;
        return true;
    }
    std::size_t i = 0;
    while (i < n && text[i] == ' ')
        ++i;
    const std::size_t digits = i;
    pid = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
        pid = pid > LLONG_MAX / 10 ? LLONG_MAX : pid * 10 + (text[i] - '0');
    return i > digits && (i == n || std::strchr(" \t\n", text[i]));
}

// What is at a lock's name instead of a regular file, as the rest of a sentence about it.
std::string kindOf(mode_t mode) {
    if (S_ISLNK(mode)) return fw::tr("is a symbolic link");
    if (S_ISFIFO(mode)) return fw::tr("is a named pipe (FIFO)");
    if (S_ISDIR(mode)) return fw::tr("is a directory");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return fw::tr("is a device node");
    if (S_ISSOCK(mode)) return fw::tr("is a socket");
    return fw::tr("is not a regular file");
}

// What the folder holds at a lock's name.
struct Found {
    enum Kind { absent, live, stale, unusable } kind = absent;
    long long pid = 0;
    std::string problem; // for unusable: what is wrong with it
    struct stat identity {};
    Fd file; // open while the lock is looked at, so that its identity cannot be reused
};

Found unusable(std::string problem) {
    Found f;
    f.kind = Found::unusable;
    f.problem = std::move(problem);
    return f;
}

Found examine(const std::string& path) {
    Found f;
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0) {
        if (errno == ENOENT) return f;
        return unusable(fw::tr("cannot be examined ({1})", {std::strerror(errno)}));
    }
    if (!S_ISREG(entry.st_mode)) return unusable(kindOf(entry.st_mode));
    Fd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.fd < 0) {
        if (errno == ENOENT) return f;
        if (errno == ELOOP) return unusable(kindOf(S_IFLNK));
        return unusable(fw::tr("cannot be read ({1})", {std::strerror(errno)}));
    }
    // Checked again on what was opened: the name may have been given to something else since.
    if (::fstat(file.fd, &f.identity) != 0 || !S_ISREG(f.identity.st_mode))
        return unusable(kindOf(f.identity.st_mode));
    char text[64];
    const ssize_t n = ::pread(file.fd, text, sizeof text, 0);
    if (n < 0) return unusable(fw::tr("cannot be read ({1})", {std::strerror(errno)}));
    if (!holderNumber(text, static_cast<std::size_t>(n), f.pid))
        return unusable(fw::tr("does not hold a process number (it may be being written, or be "
                               "left by a program that failed)"));
    f.kind = running(f.pid) ? Found::live : Found::stale;
    f.file = std::move(file);
    return f;
}

int writeAll(int fd, const char* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Fills a file just made with this process's number, readable by all whatever the umask: a
// lock that others cannot read refuses them the port for good.
int fill(int fd, bool named, struct stat& identity) {
    if (::fstat(fd, &identity) != 0) return errno;
    if (!S_ISREG(identity.st_mode) || identity.st_uid != ::geteuid() ||
        identity.st_nlink != (named ? 1u : 0u))
        return EIO; // not the new file of ours that was asked for
    if (::fchmod(fd, 0644) != 0) return errno;
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    return writeAll(fd, text, static_cast<std::size_t>(length));
}

// Where hard links or unnamed files are missing: the lock is created in its place. A reader
// that comes between the create and the write finds it empty and refuses the port.
int createInPlace(const std::string& path, struct stat& identity) {
    Fd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file.fd < 0) return errno;
    if (const int e = fill(file.fd, true, identity)) {
        struct stat now {};
        if (::lstat(path.c_str(), &now) == 0 && sameFile(now, identity)) ::unlink(path.c_str());
        return e;
    }
    return 0;
}

// Puts a lock with this process's number at `path` if nothing is there (EEXIST otherwise). It
// is written in full as a file without a name, then linked into place, so that whoever finds
// the lock finds its number in it, and a taker that is killed leaves nothing behind.
int place(const std::string& folder, const std::string& path, struct stat& identity) {
    Fd draft(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
    if (draft.fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
            return createInPlace(path, identity);
        return errno;
    }
    if (const int e = fill(draft.fd, false, identity)) return e;
    const std::string self = "/proc/self/fd/" + std::to_string(draft.fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    // EPERM: a filesystem without hard links; ENOENT: no /proc to name the draft by.
    if (errno == EPERM || errno == ENOENT || errno == EOPNOTSUPP)
        return createInPlace(path, identity);
    return errno;
}

// Waits for the takeover turn on a lock file. Its holder is another taker, who is done within
// microseconds, but may end without the lock: one of another user, in the sticky lock folder, it
// cannot remove. So the turn is waited for rather than taken as a sign that someone else will
// hold the port; not for ever, since anyone who can read the lock can hold its turn.
bool takeTurn(int fd) {
    using namespace std::chrono;
    const auto until = steady_clock::now() + seconds(2);
    for (auto pause = microseconds(100);; pause = std::min(pause * 2, microseconds(20000))) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(pause);
    }
}

// Removes the stale lock `found` unless it is no longer the file at `path`. Takers of the same
// stale lock take turns on it (flock), and each checks under its turn that the name still leads
// to that very file: a lock that another taker has put in its place is never the one removed.
// (A program that removes stale locks without such a turn can still remove ours; nothing on
// this side can stop that.) Returns 0 to look again, or why the port is refused.
int removeStale(const std::string& path, const Found& found) {
    if (!takeTurn(found.file.fd)) return EBUSY; // held far longer than a takeover takes
    struct stat now {};
    if (::lstat(path.c_str(), &now) != 0) return errno == ENOENT ? 0 : errno;
    if (!sameFile(now, found.identity)) return 0;
    // Read again under the turn: a program may have written its new number into its own lock.
    char text[64];
    long long pid = 0;
    const ssize_t n = ::pread(found.file.fd, text, sizeof text, 0);
    if (n < 0 || !holderNumber(text, static_cast<std::size_t>(n), pid) || running(pid)) return 0;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return errno == EPERM || errno == EACCES ? EBUSY : errno; // another user's lock
    return 0;
}

// Whether this process may remove the file `lock` from `folder`: it may write the folder and,
// where the folder is sticky, owns the file or the folder or has the privilege to pass over that.
bool mayRemove(const std::string& folder, const struct stat& lock) {
    struct stat dir {};
    if (::stat(folder.c_str(), &dir) != 0 ||
        ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return false;
    const uid_t me = ::geteuid();
    return !(dir.st_mode & S_ISVTX) || me == 0 || me == lock.st_uid || me == dir.st_uid;
}

bool cannotWrite(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ENOENT;
}

} // namespace

PosixLockFile::~PosixLockFile() {
    release();
}

PosixLockFile::PosixLockFile(PosixLockFile&& other) noexcept
    : path_(std::exchange(other.path_, {})), device_(other.device_), inode_(other.inode_) {}

PosixLockFile& PosixLockFile::operator=(PosixLockFile&& other) noexcept {
    if (this != &other) {
        release();
        path_ = std::exchange(other.path_, {});
        device_ = other.device_;
        inode_ = other.inode_;
    }
    return *this;
}

std::string PosixLockFile::nameFor(const std::string& devicePath) {
    char real[PATH_MAX];
    std::string name = ::realpath(devicePath.c_str(), real) ? real : devicePath;
    if (name.rfind("/dev/", 0) == 0) name.erase(0, 5);
    // A name of a device straight in /dev (ttyS0, ttyUSB0) is the one the serial tools use;
    // any other has "/" and "%" written as %2F and %25, so that no two devices share a lock
    // (/dev/a/b is LCK..a%2Fb, /dev/a_b LCK..a_b).
    if (name.find_first_of("/%") == std::string::npos) return "LCK.." + name;
    std::string escaped;
    for (const char c : name)
        escaped += c == '/' ? "%2F" : c == '%' ? "%25" : std::string(1, c);
    return "LCK.." + escaped;
}

int PosixLockFile::take(const std::string& devicePath, const std::string& lockFolder) {
    release();
    const std::string path = lockFolder + "/" + nameFor(devicePath);
    // A few rounds: each stale lock removed may be replaced by another taker's live one.
    for (int round = 0; round < 4; ++round) {
        struct stat identity {};
        const int placed = place(lockFolder, path, identity);
        if (placed == 0) {
            path_ = path;
            device_ = identity.st_dev;
            inode_ = identity.st_ino;
            return 0;
        }
        if (placed != EEXIST && !cannotWrite(placed)) return placed;
        const Found found = examine(path);
        // No lock of our own can be taken here; anyone else's is still honoured.
        if (placed != EEXIST)
            return found.kind == Found::live || found.kind == Found::unusable ? EBUSY : 0;
        // A lock that cannot be read is left alone: better a port refused than one shared.
        if (found.kind == Found::live || found.kind == Found::unusable) return EBUSY;
        if (found.kind == Found::stale)
            if (const int e = removeStale(path, found)) return e;
    }
    return EBUSY;
}

void PosixLockFile::release() {
    if (path_.empty()) return;
    // Only the lock this object made, and only while it names this process (a child after fork
    // leaves it to the parent).
    const Found found = examine(path_);
    if (found.kind == Found::live && found.pid == ::getpid() && found.identity.st_dev == device_ &&
        found.identity.st_ino == inode_)
        ::unlink(path_.c_str());
    path_.clear();
}

std::string PosixLockFile::describe(const std::string& devicePath, const std::string& lockFolder) {
    const std::string path = lockFolder + "/" + nameFor(devicePath);
    const Found found = examine(path);
    const std::string removal =
        fw::tr("Anyone can leave a file there and so block the port; if no program is using the "
               "port, have an administrator remove it: sudo rm {1}.",
               {shellQuoted(path)});
    switch (found.kind) {
    case Found::absent:
        return {};
    case Found::live: {
        std::string name;
        if (FILE* comm =
                std::fopen(("/proc/" + std::to_string(found.pid) + "/comm").c_str(), "r")) {
            char text[64] = {};
            if (std::fgets(text, sizeof text, comm)) name = text;
            std::fclose(comm);
            while (!name.empty() && name.back() == '\n')
                name.pop_back();
            // The process chose its name: nothing of it may steer the user's terminal.
            for (char& c : name)
                if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = '?';
        }
        const std::string holder =
            std::to_string(found.pid) + (name.empty() ? "" : " (" + name + ")");
        return fw::tr("The lock file {1} says that process {2} uses the port: close that "
                      "program, then try again.",
                      {path, holder}) +
               " " + removal;
    }
    case Found::stale:
        if (mayRemove(lockFolder, found.identity))
            return fw::tr("The lock file {1} was left by process {2}, which has ended; another "
                          "program held it while this one came to take it over. Try again.",
                          {path, std::to_string(found.pid)}) +
                   " " + removal;
        return fw::tr("The lock file {1} was left by process {2}, which has ended, and this user "
                      "cannot remove it.",
                      {path, std::to_string(found.pid)}) +
               " " + removal;
    case Found::unusable:
        break;
    }
    return fw::tr("The lock file {1} {2}, so the port is refused.", {path, found.problem}) + " " +
           removal;
}

} // namespace comport::driver::posix

#endif
