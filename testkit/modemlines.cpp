// Gives a simulated board's pseudo-terminal the modem lines of a USB serial
// chip, for the programs that open it, preloaded (LD_PRELOAD): the tests, avrdude,
// and Wine with every Windows program it runs. A pseudo-terminal has no DTR or
// RTS; a board keeps its own in /tmp/virtualboard-lines/pts-N: its port's driver,
// the lines, and how often DTR has risen, which resets the board. The drivers:
//   l  Linux's: opening raises DTR and RTS; closing lowers them unless HUPCL is cleared
//   u  Windows' usbser.sys: opening raises nothing; closing keeps them as they are
//   r  a Windows driver that raises DTR when the port is opened
// Every other file is left alone.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// The C library's own, looked up when first used: a program may open files
// before this library's globals would be made.
template<typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
using Open = int (*)(const char *, int, ...);

// Where fd is the port of a board whose driver is one of these, keeps its lines
// in keep, raises those in raise, and returns them; otherwise -1.
int changeLines(int fd, unsigned keep, unsigned raise, const char *drivers = "lur")
{
    static const auto open = next<Open>("open");
    static const auto close = next<int (*)(int)>("close");
    char tty[64], path[96];
    if (!isatty(fd) || ttyname_r(fd, tty, sizeof tty) != 0 || strncmp(tty, "/dev/pts/", 9) != 0)
        return -1;
    std::snprintf(path, sizeof path, "/tmp/virtualboard-lines/pts-%s", tty + 9);
    const int file = open(path, O_RDWR | O_CLOEXEC);
    unsigned lines[3] = {}; // the driver, the lines, how often DTR rose
    int now = -1;
    if (file >= 0 && flock(file, LOCK_EX) == 0 && pread(file, lines, sizeof lines, 0) > 0
        && std::strchr(drivers, int(lines[0]))) {
        const unsigned bits = (lines[1] & keep) | raise;
        lines[2] += !(lines[1] & TIOCM_DTR) && (bits & TIOCM_DTR);
        lines[1] = bits;
        now = pwrite(file, lines, sizeof lines, 0) > 0 ? int(bits) : -1;
    }
    if (file >= 0)
        close(file);
    return now;
}

} // namespace

extern "C" int open64(const char *path, int flags, ...)
{
    static const auto real = next<Open>("open64");
    va_list rest;
    va_start(rest, flags);
    const int mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(rest, int) : 0;
    va_end(rest);
    const int fd = real(path, flags, mode);
    if (fd >= 0 && changeLines(fd, ~0u, TIOCM_DTR | TIOCM_RTS, "l") < 0)
        changeLines(fd, ~0u, TIOCM_DTR, "r");
    return fd;
}
// The same in the C library, which programs call by either name.
extern "C" int open(const char *, int, ...) __attribute__((alias("open64")));

extern "C" int close(int fd)
{
    termios mode;
    if (isatty(fd) && tcgetattr(fd, &mode) == 0 && (mode.c_cflag & HUPCL))
        changeLines(fd, ~unsigned(TIOCM_DTR | TIOCM_RTS), 0, "l");
    static const auto real = next<int (*)(int)>("close");
    return real(fd);
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list rest;
    va_start(rest, request);
    auto *bits = va_arg(rest, unsigned *);
    va_end(rest);
    const bool get = request == TIOCMGET, set = request == TIOCMSET, clear = request == TIOCMBIC;
    const int now = get || set || clear || request == TIOCMBIS
        ? changeLines(fd,
                      set         ? 0
                          : clear ? ~*bits
                                  : ~0u,
                      get || clear ? 0 : *bits)
        : -1;
    static const auto real = next<int (*)(int, unsigned long, void *)>("ioctl");
    if (now < 0)
        return real(fd, request, bits);
    if (get) // the board's side of the cable is always there
        *bits = unsigned(now) | TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;
    return 0;
}
