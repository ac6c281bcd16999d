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

#include <dirent.h>

#include <chrono>
#include <cstring>
#include <string>

#include "serial/unix/port_map.h"
#include "serial/unix/posix_line.h"
#include "serial/trace.h"
#include "serial/unix/pseudo_terminal.h"
#include "serial/unix/tty_io.h"
#include "tools/sim/sim_server.h"

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

// Threads of this process as the kernel lists them: an ended thread leaves the
// list at once, joined or not.
int threadCount() {
    DIR* dir = ::opendir("/proc/self/task");
    int n = 0;
    while (dirent* e = dir ? ::readdir(dir) : nullptr)
        if (e->d_name[0] != '.') ++n;
    if (dir) ::closedir(dir);
    return n;
}

// Polls until pred() holds, at most ms; whether it held.
template <typename Pred>
bool within(int ms, Pred pred) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (Clock::now() >= end) return false;
        ::poll(nullptr, 0, 1);
    }
    return true;
}

TEST_F(PosixLineTest, TheFarEndClosingIsALossSeenAtOnceThatEndsBothThreads) {
    const struct {
        const char* name;
        const char* received;  // by the reader before the close
        bool held;             // that burst ended and not yet released
        const char* sentAfter; // handed off after the close
    } kCases[] = {
        {"during a read", "PART", false, nullptr},
        {"while a classified burst is held", "ONE", true, nullptr},
        {"before a write", "", false, "\x0A\x21\xAA\x4E\x41"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        if (pty.master < 0) {
            std::string error;
            ASSERT_TRUE(openPseudoTerminal(&pty, &error)) << error;
        }
        classified();  // whatever the last case left
        ASSERT_EQ(line.open(pty.slavePath.c_str()), kPortOpened);
        // Counted with the line's two threads running (a sanitizer may add its own).
        const int withLine = threadCount();
        const std::string received = c.received;
        if (!received.empty()) farEndWrites(received);
        if (c.held) ASSERT_TRUE(burstEnds(2000));
        else ASSERT_TRUE(within(1000, [&] { return link.burstLength() == received.size(); }));

        const auto closed = Clock::now();
        ::close(pty.master);
        pty.master = -1;
        if (c.sentAfter) handOff(c.sentAfter);
        // As the host loop does: the burst first, then the loss.
        bool burstOnLoss = false;
        pollfd p{line.burstEventFd(), POLLIN, 0};
        for (;;) {
            burstOnLoss |= line.takeBurstEnd();
            if (line.takeLineLost() || Clock::now() - closed > std::chrono::seconds(2)) break;
            ::poll(&p, 1, 100);
        }
        const auto latency = Clock::now() - closed;
        EXPECT_LT(latency, std::chrono::milliseconds(100));
        std::printf("[ figures  ] %s: loss seen %.2f ms after the far end closed\n", c.name,
                    std::chrono::duration<double, std::milli>(latency).count());
        EXPECT_TRUE(line.lost());
        // A burst cut short by the loss still reaches the classifier; a held one was already there.
        EXPECT_EQ(burstOnLoss, !received.empty() && !c.held);
        EXPECT_EQ(burst(), received);
        EXPECT_EQ(line.lastHandOffWritten(), false);
        // Both threads end by themselves, without waiting for close().
        EXPECT_TRUE(within(1000, [&] { return threadCount() == withLine - 2; }));
        EXPECT_TRUE(line.isOpen());
        line.close();
        EXPECT_FALSE(line.lost());
        EXPECT_FALSE(line.takeLineLost());
        closePseudoTerminal(&pty);
    }
    // The same line object opens again and works.
    std::string error;
    ASSERT_TRUE(openPseudoTerminal(&pty, &error)) << error;
    ASSERT_EQ(line.open(pty.slavePath.c_str()), kPortOpened);
    handOff("again");
    EXPECT_EQ(farEndReads(300), "again");
    EXPECT_TRUE(line.lastHandOffWritten());
    EXPECT_FALSE(line.lost());
}

// One wake-up of the reader on a real pseudo-terminal: what the system reports,
// and whether the line goes on.
TEST(ReadDeviceTest, NothingToReadIsNoLossAHangUpOrAnErrorIs) {
    const struct {
        const char* name;
        const char* queued;  // written by the far end first
        bool farEndCloses;   // then revents come from a real poll()
        short revents;
        bool goesOn;
    } kCases[] = {
        {"woken with nothing queued: read() returns 0", "", false, POLLIN, true},
        {"bytes queued", "abc", false, POLLIN, true},
        {"an error on the descriptor", "", false, POLLERR, false},
        {"a descriptor no longer valid", "", false, POLLNVAL, false},
        {"the far end closed", "", true, 0, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        PseudoTerminal pty;
        std::string error;
        ASSERT_TRUE(openPseudoTerminal(&pty, &error)) << error;
        const int fd = ::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(configureLine(fd), kPortOpened);
        LinkBuffers link;
        BurstHandover handover(link);
        const std::string queued = c.queued;
        short revents = c.revents;
        if (!queued.empty()) {
            ASSERT_EQ(::write(pty.master, queued.data(), queued.size()), static_cast<ssize_t>(queued.size()));
            pollfd p{fd, POLLIN, 0};
            ASSERT_EQ(::poll(&p, 1, 1000), 1);
        } else if (!c.farEndCloses) {
            char byte;
            EXPECT_EQ(::read(fd, &byte, 1), 0);  // what the reader meets: 0, not EAGAIN
        }
        if (c.farEndCloses) {
            closePseudoTerminal(&pty);
            pollfd p{fd, POLLIN, 0};
            ASSERT_EQ(::poll(&p, 1, 1000), 1);
            EXPECT_NE(p.revents & POLLHUP, 0);
            revents = p.revents;
        }
        EXPECT_EQ(readDevice(fd, revents, handover, TimePoint{}), c.goesOn);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(link.receiveBuffer), link.burstLength()), queued);
        ::close(fd);
        closePseudoTerminal(&pty);
    }
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

TEST(TraceTest, ASessionTraceNamesItsRecorderAndTimesLinesFromItsStart) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_TRUE(beginSessionTrace(fds[1], "ostrakan-test 9.9"));
    const std::uint8_t frame[] = {0x0A, 0x21, 0xAA};
    writeTrace(fds[1], "TX", frame, sizeof frame);
    endSessionTrace(fds[1]);
    writeTrace(fds[1], "RX", frame, 1);  // a plain line again
    ::close(fds[1]);
    std::string got;
    char buf[1024];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    const std::string header = "# ostrakan-test 9.9 trace, 9600 8N1, started 20";
    ASSERT_EQ(got.substr(0, header.size()), header) << got;
    const std::size_t line = got.find("Z\n");
    ASSERT_NE(line, std::string::npos) << got;
    // Well under a second passed: "+0.0NN TX ...".
    EXPECT_EQ(got.substr(line + 2, 4), "+0.0") << got;
    EXPECT_EQ(got.substr(line + 8, 19), " TX 0A 21 AA |.!.|\n") << got;
    EXPECT_EQ(got[line + 8 + 19 + 2], ':') << got;  // "HH:MM:..."
}

// Each row: a burst and what its plain trace line holds after the time of day.
// The password's bytes are "**" and '*', one for each byte; nothing else is hidden.
TEST(TraceTest, HidesThePasswordsBytesInBothColumns) {
    // The line of `text` with bytes [from, from + count) hidden.
    const auto line = [](const std::string& text, std::size_t from, std::size_t count) {
        static const char kHex[] = "0123456789ABCDEF";
        std::string hex, shown;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto b = static_cast<unsigned char>(text[i]);
            const bool hidden = i >= from && i < from + count;
            hex += hidden ? std::string(" **") : std::string{' ', kHex[b >> 4], kHex[b & 15]};
            shown += hidden ? '*' : b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.';
        }
        return "TX" + hex + " |" + shown + "|\n";
    };
    const std::string command = "AT^SICS=0,\"passwd\",\"";
    const std::size_t at = command.size();
    const struct {
        const char* name;
        std::string burst;
        std::size_t hiddenFrom, hidden;
    } rows[] = {
        {"password", command + "pw\"\r\n", at, 2},
        {"quotes and CR inside", command + "a\"b,c\r\"\r\n", at, 6},
        {"Cyrillic in 1251", command + "\xCF\xE0\xF0\"\r\n", at, 3},
        {"cut short", command + "sec", at, 3},
        {"echo and OK", command + "pw\"\r\r\nOK\r\n", at, 2},
        {"empty password", command + "\"\r\n", at, 0},
        {"user in clear", "AT^SICS=0,\"user\",\"pw\"\r\n", 0, 0},
        {"apn in clear", "AT^SICS=0,\"apn\",\"passwd\"\r\n", 0, 0},
        {"address in clear", "AT^SISS=9,\"address\",\"socktcp://1.2.3.4:65534\"\r\n", 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        writeTrace(fds[1], "TX", reinterpret_cast<const std::uint8_t*>(row.burst.data()), row.burst.size());
        ::close(fds[1]);
        std::string got;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
        ::close(fds[0]);
        ASSERT_GT(got.size(), 13u);
        EXPECT_EQ(got.substr(13), line(row.burst, row.hiddenFrom, row.hidden));
    }
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
