/* Loaded into the Wine client by the Windows tests (LD_PRELOAD): a pseudo-terminal has no modem
 * lines, so the kernel refuses the modem-line requests on it, and Wine's serial layer then fails
 * every line call and cancels every pending event wait. For a pseudo-terminal only, and only where
 * the kernel refuses, this answers those requests as a port with the lines would: the output
 * lines keep what was set, the input lines stay off, and a wait for a line change waits until the
 * terminal goes away. Every other call goes to the kernel unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

enum { maxDescriptors = 4096 };
static int lines[maxDescriptors]; /* the output lines set per descriptor */

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* Terminal ends of pseudo-terminals: character devices 136 to 143. */
static int isPseudoTerminal(int fd) {
    struct stat st;
    return fd >= 0 && fd < maxDescriptors && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) &&
           major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn real;
    if (!real) real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);

    const int result = real(fd, request, argument);
    if (result != -1 || (errno != ENOTTY && errno != EINVAL) || !isPseudoTerminal(fd)) return result;
    const int bits = argument && request != TIOCMIWAIT ? *(const int*)argument : 0;
    switch (request) {
    case TIOCMGET:
        *(int*)argument = lines[fd] & (TIOCM_DTR | TIOCM_RTS);
        return 0;
    case TIOCMSET:
        lines[fd] = bits;
        return 0;
    case TIOCMBIS:
        lines[fd] |= bits;
        return 0;
    case TIOCMBIC:
        lines[fd] &= ~bits;
        return 0;
    case TIOCMIWAIT: {
        /* No input line ever changes: wait until the far end hangs up. */
        struct pollfd p = {fd, 0, 0};
        while (poll(&p, 1, -1) == 0 || !(p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        }
        errno = EIO;
        return -1;
    }
    default:
        errno = errno == EINVAL ? EINVAL : ENOTTY;
        return -1;
    }
}
