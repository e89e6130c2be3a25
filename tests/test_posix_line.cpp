// The real POSIX line layer against a pseudo-terminal: it takes the line
// settings like a serial port, but has no modem-control lines.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "keying/keying.h"
#include "stderr_matcher.h"
#include "platform/platform.h"

struct PseudoTerminal {
    int master = -1;
    std::string slave;
};

static PseudoTerminal OpenPseudoTerminal() {
    PseudoTerminal pty;
    pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) return pty;
    pty.slave = ptsname(pty.master);
    return pty;
}

TEST(PosixLine, NamesPortsAfterTtyS) {
    char name[64];
    FormatLineName(name, sizeof name, 1);
    EXPECT_STREQ(name, "/dev/ttyS0");
    FormatLineName(name, sizeof name, 2);
    EXPECT_STREQ(name, "/dev/ttyS1");
    FormatLineName(name, sizeof name, -2147483647 - 1);
    EXPECT_STREQ(name, "/dev/ttyS-2147483649");
}

TEST(PosixLine, AppliesTheKeyingSettings) {
    const PseudoTerminal pty = OpenPseudoTerminal();
    ASSERT_GE(pty.master, 0);
    LineHandle line = -1;
    ASSERT_TRUE(OpenLine(pty.slave.c_str(), &line)) << std::strerror(static_cast<int>(LastLineError()));
    ASSERT_TRUE(ReadLineSettings(line));
    ASSERT_TRUE(WriteKeyingSettings(line));

    // Seen from the other end of the pseudo-terminal.
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);  // modem status ignored
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);

    // The descriptor blocks again after the non-blocking open.
    EXPECT_EQ(fcntl(static_cast<int>(line), F_GETFL) & O_NONBLOCK, 0);

    // No modem lines: the change fails with the system's reason.
    EXPECT_FALSE(ChangeLine(line, RAISE_DTR));
    EXPECT_EQ(LastLineError(), static_cast<std::uint32_t>(ENOTTY));
    CloseLine(line);
    close(pty.master);
}

TEST(PosixLine, HoldsThePortExclusively) {
    const PseudoTerminal pty = OpenPseudoTerminal();
    ASSERT_GE(pty.master, 0);
    LineHandle first = -1, second = -1;
    ASSERT_TRUE(OpenLine(pty.slave.c_str(), &first));
    // Refused even for root, who may pass TIOCEXCL: the lock stops it.
    EXPECT_FALSE(OpenLine(pty.slave.c_str(), &second));
    const std::uint32_t error = LastLineError();
    EXPECT_TRUE(error == EBUSY || error == EWOULDBLOCK) << error;
    CloseLine(first);
    ASSERT_TRUE(OpenLine(pty.slave.c_str(), &second));  // free again once closed
    CloseLine(second);
    close(pty.master);
}

TEST(PosixLineDeathTest, MissingModemLinesEndTheKeying) {
    const PseudoTerminal pty = OpenPseudoTerminal();
    ASSERT_GE(pty.master, 0);
    ASSERT_TRUE(OpenLine(pty.slave.c_str(), &hCom));
    ASSERT_TRUE(ReadLineSettings(hCom));
    ASSERT_TRUE(WriteKeyingSettings(hCom));
    EXPECT_EXIT(PowerLow(100), ::testing::ExitedWithCode(1),
                FailureLineIs("EscapeCommFunction", "00000019"));
    CloseLine(hCom);
    close(pty.master);
}

TEST(PosixLineDeathTest, MissingPortNamesTheDevice) {
    Port = 4000;  // /dev/ttyS3999 does not exist
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1), StderrIs("CreateFile failed: /dev/ttyS3999 (00000002)\n"));
    Port = 0;
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1), StderrIs("CreateFile failed: /dev/ttyS-1 (00000002)\n"));
}

TEST(PosixLineDeathTest, DeviceByPath) {
    // The pseudo-terminal opened and configured by its path; it has no
    // modem lines, so the first pulse ends the program as on such a port.
    const PseudoTerminal pty = OpenPseudoTerminal();
    ASSERT_GE(pty.master, 0);
    Device = pty.slave.c_str();
    EXPECT_EXIT(
        {
            PinOpen();
            std::fprintf(stderr, "opened\n");
            PowerLow(100);
        },
        ::testing::ExitedWithCode(1), ::testing::StartsWith("opened\nFile line.cpp Line "));
    Device = "/dev/no-such-serial-device";
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1),
                StderrIs("CreateFile failed: /dev/no-such-serial-device (00000002)\n"));
    Device = nullptr;
    close(pty.master);
}

TEST(PosixLine, ReleasesNoModemLinesOnAPseudoTerminal) {
    const PseudoTerminal pty = OpenPseudoTerminal();
    ASSERT_GE(pty.master, 0);
    LineHandle line = -1;
    ASSERT_TRUE(OpenLine(pty.slave.c_str(), &line));
    EXPECT_FALSE(ReleaseModemLines(line));
    EXPECT_EQ(LastLineError(), static_cast<std::uint32_t>(ENOTTY));
    CloseLine(line);
    close(pty.master);
}

// An option run refuses the device at the open, in the system's words
// alone: a pseudo-terminal has no DTR and RTS, and a port its user may not
// open names the one thing to do.
TEST(PosixLineDeathTest, OptionRunsRefuseAtTheOpen) {
    const PseudoTerminal pty = OpenPseudoTerminal();
    ASSERT_GE(pty.master, 0);
    ExplainLineErrors = ReleaseLinesAtOpen = true;
    Device = pty.slave.c_str();
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1),
                StderrIs("dcf77tx: " + pty.slave + ": not a serial port with DTR and RTS: " + std::strerror(ENOTTY) +
                         "\n"));
    // Nor is a device that is no terminal at all.
    Device = "/dev/null";
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1),
                StderrIs(std::string("dcf77tx: /dev/null: not a serial port with DTR and RTS: ") + std::strerror(ENOTTY) +
                         "\n"));

    // A device of group dialout that only its owner, root, may open, opened
    // by an ordinary user.
    char path[] = "/tmp/dcf77tx_ttyXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    const group* dialout = getgrnam("dialout");
    const bool asRoot = geteuid() == 0 && dialout != nullptr && chown(path, 0, dialout->gr_gid) == 0;
    chmod(path, 0600);
    Device = path;
    if (asRoot) {
        const passwd* nobody = getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        EXPECT_EXIT(
            {
                if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) std::exit(3);
                PinOpen();
            },
            ::testing::ExitedWithCode(1),
            StderrIs(std::string("dcf77tx: ") + path + ": " + std::strerror(EACCES) +
                     "; add yourself to its group (usermod -aG dialout nobody) and log in again\n"));
    }
    const std::string advice = LineErrorAdvice(EACCES, path);
    EXPECT_NE(advice.find("usermod -aG "), std::string::npos) << advice;
    EXPECT_STREQ(LineErrorAdvice(ENOENT, path), "");
    unlink(path);
    Device = nullptr;
    ExplainLineErrors = ReleaseLinesAtOpen = false;
    close(pty.master);
}
