// Gives a simulated board's pseudo-terminal the modem lines of a USB serial
// chip, for the programs that open it, preloaded (LD_PRELOAD): the tests, avrdude,
// and Wine with every Windows program it runs. A pseudo-terminal has no DTR or
// RTS; a board keeps its own in /tmp/virtualboard-lines/pts-N: its port's driver,
// the lines, and how often DTR has risen, which resets the board. It also counts
// what a host must never do to a board that avrdude is talking to: reset it, or
// hold its port while avrdude starts (Windows then denies avrdude the port).
// The drivers:
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
#include <filesystem>
#include <fstream>
#include <string>
#include <strings.h>

namespace {

// The C library's own, looked up when first used: a program may open files
// before this library's globals would be made.
template<typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
using Open = int (*)(const char *, int, ...);
// A board's file: words, in this order.
enum { Driver, Lines, Rises, Board, Tool, ResetsUnderTool, ToolStartsOnAHeldPort, Words };

// Runs change on the file of the board whose port is /dev/pts/N, under its lock;
// change returns what to give back, or -1 to leave the file as it was.
template<typename Change> int withBoard(const char *n, Change change)
{
    static const auto open = next<Open>("open");
    static const auto close = next<int (*)(int)>("close");
    char path[96];
    std::snprintf(path, sizeof path, "/tmp/virtualboard-lines/pts-%s", n);
    const int file = open(path, O_RDWR | O_CLOEXEC);
    unsigned words[Words] = {};
    int now = -1;
    if (file >= 0 && flock(file, LOCK_EX) == 0 && pread(file, words, sizeof words, 0) > 0
        && (now = change(words)) >= 0 && pwrite(file, words, sizeof words, 0) <= 0)
        now = -1;
    close(file); // or fails, where there is no file
    return now;
}

// Gone, or a zombie: under Wine, init reaps a Windows program's process late.
bool running(unsigned pid)
{
    std::string stat;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
    return !stat.empty() && stat.find(") Z ") == std::string::npos;
}

// Where fd is the port of a board whose driver is one of these, keeps its lines
// in keep, raises those in raise, and returns them; otherwise -1. A change is a
// host's, or the driver's own as the port is opened or closed.
int changeLines(int fd, unsigned keep, unsigned raise, const char *drivers = "lur",
                bool byHost = true)
{
    char tty[64];
    if (!isatty(fd) || ttyname_r(fd, tty, sizeof tty) != 0 || strncmp(tty, "/dev/pts/", 9) != 0)
        return -1;
    return withBoard(tty + 9, [&](unsigned *words) {
        if (!std::strchr(drivers, int(words[Driver])))
            return -1;
        const unsigned bits = (words[Lines] & keep) | raise;
        const bool rise = !(words[Lines] & TIOCM_DTR) && (bits & TIOCM_DTR);
        words[Rises] += rise;
        words[ResetsUnderTool] +=
            rise && byHost && words[Tool] != unsigned(getpid()) && running(words[Tool]);
        words[Lines] = bits;
        return int(bits);
    });
}

// Whether a process other than the board has /dev/pts/N open.
bool heldByAHost(const std::string &n, unsigned board)
{
    namespace fs = std::filesystem;
    const fs::path tty = "/dev/pts/" + n, boardPid = std::to_string(board);
    std::error_code error;
    try {
        for (const fs::path &process : fs::directory_iterator("/proc", error))
            if (process.filename() != boardPid)
                for (const fs::path &fd : fs::directory_iterator(process / "fd", error))
                    if (fs::read_symlink(fd, error) == tty)
                        return true;
    } catch (const fs::filesystem_error &) { // a process ended as it was looked at
    }
    return false;
}

// When avrdude starts, natively or under Wine, every board notes it, and
// whether a host holds its port.
__attribute__((constructor)) void noteTool()
{
    std::ifstream cmdline("/proc/self/cmdline");
    bool avrdude = false;
    for (std::string word; std::getline(cmdline, word, '\0');) {
        const std::string name = word.substr(word.find_last_of("/\\") + 1);
        avrdude = avrdude || !strcasecmp(name.c_str(), "avrdude")
            || !strcasecmp(name.c_str(), "avrdude.exe");
    }
    std::error_code error;
    for (const std::filesystem::path &board :
         std::filesystem::directory_iterator(avrdude ? "/tmp/virtualboard-lines" : "", error))
        withBoard(board.filename().c_str() + 4, [&](unsigned *words) {
            words[Tool] = unsigned(getpid());
            words[ToolStartsOnAHeldPort] +=
                heldByAHost(board.filename().string().substr(4), words[Board]);
            return 0;
        });
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
    if (fd >= 0 && changeLines(fd, ~0u, TIOCM_DTR | TIOCM_RTS, "l", false) < 0)
        changeLines(fd, ~0u, TIOCM_DTR, "r", false);
    return fd;
}
// The same in the C library, which programs call by either name.
extern "C" int open(const char *, int, ...) __attribute__((alias("open64")));

extern "C" int close(int fd)
{
    termios mode;
    if (isatty(fd) && tcgetattr(fd, &mode) == 0 && (mode.c_cflag & HUPCL))
        changeLines(fd, ~unsigned(TIOCM_DTR | TIOCM_RTS), 0, "l", false);
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
    int now = -1; // other requests may pass no pointer at all
    if (get || set || clear || request == TIOCMBIS)
        now = changeLines(fd, set ? 0 : clear ? ~*bits : ~0u, get || clear ? 0 : *bits);
    static const auto real = next<int (*)(int, unsigned long, void *)>("ioctl");
    if (now < 0)
        return real(fd, request, bits);
    if (get) // the board's side of the cable is always there
        *bits = unsigned(now) | TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;
    return 0;
}
