// The serial line on POSIX systems: port n is /dev/ttyS<n-1>, and DTR and
// RTS are driven with the modem-control ioctls.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform.h"

// Settings read by ReadLineSettings, changed and written back by
// WriteKeyingSettings.
static termios lineSettings;
// errno of the line call that failed last.
static int lastLineError = 0;

static bool Failed() {
    lastLineError = errno;
    return false;
}

void FormatLineName(char* name, std::size_t size, std::int32_t port) {
    std::snprintf(name, size, "/dev/ttyS%lld", static_cast<long long>(port) - 1);
}

void FormatDevicePath(char* name, std::size_t size, const char* device) {
    std::snprintf(name, size, "%s", device);
}

bool OpenLine(const char* name, LineHandle* line) {
    // Non-blocking so that the open does not wait for carrier detect.
    const int fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Failed();
    // TIOCEXCL keeps other programs out, but not root; the lock keeps a
    // second copy of this program out whoever runs it. A device that is no
    // terminal at all is left for the settings to refuse.
    if ((ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        Failed();
        close(fd);
        return false;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        Failed();
        close(fd);
        return false;
    }
    *line = fd;
    return true;
}

bool ReadLineSettings(LineHandle line) {
    return tcgetattr(static_cast<int>(line), &lineSettings) == 0 || Failed();
}

bool WriteKeyingSettings(LineHandle line) {
    termios& t = lineSettings;
    // Raw binary: no input or output processing, no echo, no signals.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // 8 data bits, no parity, one stop bit; modem status lines ignored.
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
#ifdef CRTSCTS
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);  // no hardware flow control
#endif
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, B9600) != 0 || cfsetospeed(&t, B9600) != 0) return Failed();
    const int fd = static_cast<int>(line);
    if (tcsetattr(fd, TCSANOW, &t) != 0) return Failed();
    // Both outputs asserted until keying starts. A device without modem
    // lines (a pseudo-terminal) refuses this; its first pulse reports it.
    int both = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &both) != 0 && errno != ENOTTY && errno != EINVAL) return Failed();
    return true;
}

bool ChangeLine(LineHandle line, LineChange change) {
    int bits = change == RAISE_DTR || change == LOWER_DTR ? TIOCM_DTR : TIOCM_RTS;
    const unsigned long request = change == RAISE_DTR || change == RAISE_RTS ? TIOCMBIS : TIOCMBIC;
    return ioctl(static_cast<int>(line), request, &bits) == 0 || Failed();
}

bool ReleaseModemLines(LineHandle line) {
    // A device without modem-control lines (a pseudo-terminal, a pipe)
    // refuses both requests with ENOTTY or EINVAL.
    const int fd = static_cast<int>(line);
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) return Failed();
    bits &= ~(TIOCM_DTR | TIOCM_RTS);
    return ioctl(fd, TIOCMSET, &bits) == 0 || Failed();
}

void CloseLine(LineHandle line) { close(static_cast<int>(line)); }

std::uint32_t LastLineError() { return static_cast<std::uint32_t>(lastLineError); }

const char* LineErrorText(std::uint32_t code) { return std::strerror(static_cast<int>(code)); }

const char* LineErrorAdvice(std::uint32_t code, const char* name) {
    static char advice[512];
    if (code != EACCES) return "";
    // The device's own group (dialout for serial ports on Debian), and the
    // user who ran the program.
    struct stat device {};
    const group* owner = stat(name, &device) == 0 ? getgrgid(device.st_gid) : nullptr;
    const char* groupName = owner != nullptr && device.st_gid != 0 ? owner->gr_name : "dialout";
    const passwd* user = getpwuid(getuid());
    std::snprintf(advice, sizeof advice, "; add yourself to its group (usermod -aG %s %s) and log in again", groupName,
                  user != nullptr ? user->pw_name : "$USER");
    return advice;
}
