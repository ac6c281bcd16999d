// The POSIX serial back-end against a pseudo-terminal whose other side the test
// plays. These run in real time (the quiet period is 200 ms), so they are few.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "serial/unix/port_map.h"
#include "serial/unix/posix_line.h"
#include "serial/unix/trace.h"
#include "serial/unix/pseudo_terminal.h"

namespace ostrakan {
namespace {

using Clock = std::chrono::steady_clock;

class PosixLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(openPseudoTerminal(&pty, &error)) << error;
    }
    void TearDown() override {
        line.close();
        closePseudoTerminal(&pty);
    }

    // What the program sent, as the far end reads it within `ms`.
    std::string farEndReads(int ms) {
        std::string got;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{pty.master, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
            char buf[1024];
            const ssize_t n = ::read(pty.master, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }
    void farEndWrites(const std::string& s) {
        ASSERT_EQ(::write(pty.master, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }
    // Waits for the reader's "burst ended" (at most ms); true when it came.
    bool burstEnds(int ms) {
        pollfd p{line.burstEventFd(), POLLIN, 0};
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            ::poll(&p, 1, static_cast<int>(left) + 1);
            if (line.takeBurstEnd()) return true;
        }
        return false;
    }
    std::string burst() const {
        return std::string(reinterpret_cast<const char*>(link.receiveBuffer), link.burstLength());
    }
    // What the reply classifier does to the link when it has handled a burst.
    void classified() {
        link.gapTimerRunning = 0;
        link.receiveLength = 0;
    }
    void handOff(const std::string& bytes) {
        link.transmitBuffer[0] = static_cast<std::uint8_t>(bytes.size());
        std::memcpy(link.transmitBuffer + 1, bytes.data(), bytes.size());
        line.handOff();
    }

    PseudoTerminal pty;
    LinkBuffers link;
    PosixLine line{link};
};

TEST_F(PosixLineTest, OpensRawAt9600AndSendsEachHandOffOnce) {
    ASSERT_EQ(line.open(pty.slavePath.c_str()), kPortOpened);
    EXPECT_TRUE(line.isOpen());
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty.slaveKeeper, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);

    const std::string frame("\x0A\x21\xAA\x4E\x41\0\0\0\0\0\0\0", 12);
    handOff(frame);
    EXPECT_EQ(farEndReads(300), frame);
    handOff("");  // a count of 0 sends nothing
    handOff("ATE0\r\n");
    EXPECT_EQ(farEndReads(300), "ATE0\r\n");
}

TEST_F(PosixLineTest, ChunksCloserThanTheQuietPeriodMakeOneBurst) {
    ASSERT_EQ(line.open(pty.slavePath.c_str()), kPortOpened);
    const auto start = Clock::now();
    farEndWrites("\r\n");
    ASSERT_FALSE(burstEnds(50));
    farEndWrites("OK\r\n");
    const auto lastChunk = Clock::now();
    ASSERT_TRUE(burstEnds(2000));
    EXPECT_GE(Clock::now() - lastChunk, std::chrono::milliseconds(195));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_EQ(burst(), "\r\nOK\r\n");
    EXPECT_EQ(link.gapTimerRunning.load(), 1u);
}

TEST_F(PosixLineTest, BytesAfterABurstWaitUntilTheBurstIsReleased) {
    ASSERT_EQ(line.open(pty.slavePath.c_str()), kPortOpened);
    farEndWrites("FIRST");
    ASSERT_TRUE(burstEnds(2000));
    EXPECT_EQ(burst(), "FIRST");
    // Not yet classified: new bytes must not touch the buffer.
    farEndWrites("NEXT");
    EXPECT_FALSE(burstEnds(300));
    EXPECT_EQ(burst(), "FIRST");
    classified();
    line.releaseBurst();
    ASSERT_TRUE(burstEnds(2000));
    EXPECT_EQ(burst(), "NEXT");  // a new burst, from offset 0
}

TEST_F(PosixLineTest, AnOverLongBurstStopsAt600Bytes) {
    ASSERT_EQ(line.open(pty.slavePath.c_str()), kPortOpened);
    std::string big(700, 'x');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    farEndWrites(big);
    ASSERT_TRUE(burstEnds(2000));
    EXPECT_EQ(link.receiveLength.load(), 600u);
    EXPECT_EQ(burst(), big.substr(0, 600));
    line.close();
    EXPECT_EQ(line.droppedBytes(), 100u);
}

TEST_F(PosixLineTest, CloseStopsBothThreadsAndReopenStartsFreshOnes) {
    ASSERT_EQ(line.open(pty.slavePath.c_str()), kPortOpened);
    EXPECT_EQ(line.threadStarts(), 2u);
    line.close();
    EXPECT_FALSE(line.isOpen());
    farEndWrites("late");
    EXPECT_FALSE(burstEnds(300));  // nobody reads any more
    handOff("lost");               // no writer: nothing is sent
    ASSERT_EQ(line.open(pty.slavePath.c_str()), kPortOpened);
    EXPECT_EQ(line.threadStarts(), 4u);
    EXPECT_EQ(farEndReads(100), "");  // the open flushed "late" away, "lost" was never sent
    handOff("again");
    EXPECT_EQ(farEndReads(300), "again");
}

TEST_F(PosixLineTest, ASecondProgramFindsThePortInUse) {
    ASSERT_EQ(line.open(pty.slavePath.c_str()), kPortOpened);
    LinkBuffers otherLink;
    PosixLine other(otherLink);
    EXPECT_EQ(other.open(pty.slavePath.c_str()), kPortOpenFailed);
    EXPECT_EQ(other.lastFailure(), OpenFailure::InUse);
    char why[600];
    other.describeFailure(why, sizeof why);
    EXPECT_NE(std::strstr(why, "in use"), nullptr) << why;
    // Our own open while open fails too, and leaves the port working.
    EXPECT_EQ(line.open(pty.slavePath.c_str()), kPortOpenFailed);
    EXPECT_TRUE(line.isOpen());
    handOff("still");
    EXPECT_EQ(farEndReads(300), "still");
}

TEST(PosixLineOpenTest, FailuresCarryTheSystemsReason) {
    LinkBuffers link;
    PosixLine line(link);
    char why[600];
    EXPECT_EQ(line.open("/dev/ostrakan-no-such-port"), kPortOpenFailed);
    EXPECT_EQ(line.lastFailure(), OpenFailure::NoSuchDevice);
    line.describeFailure(why, sizeof why);
    EXPECT_STREQ(why, "/dev/ostrakan-no-such-port: no such device");

    char file[] = "/tmp/ostrakan-not-a-tty-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(line.open(file), kPortOpenFailed);
    EXPECT_EQ(line.lastFailure(), OpenFailure::NotATerminal);
    ::unlink(file);
    EXPECT_FALSE(line.isOpen());
}

TEST(PortMapTest, ComNamesMapToDevicesAndLinksOverrideThem) {
    char path[kDevicePathRoom];
    char dir[] = "/tmp/ostrakan-devices-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    ::setenv("OSTRAKAN_DEVICES", dir, 1);
    ASSERT_TRUE(mapPortName("COM1", path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyS0");
    ASSERT_TRUE(mapPortName("COM32", path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyS31");
    ASSERT_TRUE(mapPortName("COM33", path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyUSB0");
    ASSERT_TRUE(mapPortName("COM65", path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyACM0");
    EXPECT_FALSE(mapPortName("COM97", path, sizeof path));
    // Spellings the window's check lets through name no device.
    EXPECT_FALSE(mapPortName("COM1x", path, sizeof path));
    EXPECT_FALSE(mapPortName("COM01", path, sizeof path));
    EXPECT_FALSE(mapPortName("COM 1", path, sizeof path));

    const std::string link = std::string(dir) + "/com1";
    ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);
    ASSERT_TRUE(mapPortName("COM1", path, sizeof path));
    EXPECT_EQ(std::string(path), link);
    ASSERT_TRUE(mapPortName("COM200", path, sizeof path) == false);
    ASSERT_TRUE(mapPortName("/dev/pts/7", path, sizeof path));
    EXPECT_STREQ(path, "/dev/pts/7");

    ::unlink(link.c_str());
    ::rmdir(dir);
    ::unsetenv("OSTRAKAN_DEVICES");
}

}  // namespace
}  // namespace ostrakan

namespace ostrakan {
namespace {

TEST(TraceTest, OneLinePerBurstWithHexAndText) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string big(700, 'z');
    big[0] = '\r';
    writeTrace(fds[1], "RX", reinterpret_cast<const std::uint8_t*>(big.data()), big.size());
    ::close(fds[1]);
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    // "HH:MM:SS.mmm RX 0D 7A ... |.zzz...|\n"
    ASSERT_GT(got.size(), 16u);
    EXPECT_EQ(got[2], ':');
    EXPECT_EQ(got[8], '.');
    EXPECT_EQ(got.substr(12, 10), " RX 0D 7A ");
    EXPECT_EQ(got.size(), 15 + 3 * 700 + 2 + 700 + 2);
    EXPECT_EQ(got.substr(got.size() - 4), "zz|\n");
    EXPECT_EQ(got.find('\n'), got.size() - 1);
    EXPECT_EQ(got.substr(15 + 3 * 700, 3), " |.");
}

}  // namespace
}  // namespace ostrakan

namespace ostrakan {
namespace {

// Runs `body` in a child process as the unprivileged user nobody and returns the
// child's exit status (the body's result; 2 if the switch of user failed).
template <typename Body>
int exitStatusAsNobody(Body body) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PosixLineOpenTest, PermissionDeniedNamesTheDialoutGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to play an unprivileged user";
    PseudoTerminal pty;
    std::string error;
    ASSERT_TRUE(openPseudoTerminal(&pty, &error)) << error;
    // The pseudo-terminal belongs to root with no access for others.
    ASSERT_EQ(::chmod(pty.slavePath.c_str(), 0600), 0);
    EXPECT_EQ(exitStatusAsNobody([&] {
                  LinkBuffers link;
                  PosixLine line(link);
                  if (line.open(pty.slavePath.c_str()) != kPortOpenFailed) return 3;
                  if (line.lastFailure() != OpenFailure::PermissionDenied) return 4;
                  char why[600];
                  line.describeFailure(why, sizeof why);
                  return std::strstr(why, "permission denied") && std::strstr(why, "dialout") ? 0 : 5;
              }),
              0);
    closePseudoTerminal(&pty);
}

TEST(PosixLineOpenTest, ClosingGivesUpExclusiveUseForTheNextProgram) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to play an unprivileged user";
    PseudoTerminal pty;  // keeps its own descriptor of the terminal open
    std::string error;
    ASSERT_TRUE(openPseudoTerminal(&pty, &error)) << error;
    ASSERT_EQ(::chmod(pty.slavePath.c_str(), 0666), 0);
    {
        LinkBuffers link;
        PosixLine line(link);
        ASSERT_EQ(line.open(pty.slavePath.c_str()), kPortOpened);
        line.close();
    }
    // An unprivileged program is refused a terminal left exclusive (root is not).
    EXPECT_EQ(exitStatusAsNobody([&] {
                  LinkBuffers link;
                  PosixLine line(link);
                  return line.open(pty.slavePath.c_str()) == kPortOpened
                             ? 0
                             : 10 + static_cast<int>(line.lastFailure());
              }),
              0);
    closePseudoTerminal(&pty);
}

}  // namespace
}  // namespace ostrakan
