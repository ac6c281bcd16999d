#include "serial/unix/tty_io.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "serial/line.h"

namespace ostrakan {

int configureLine(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return kPortGetStateFailed;
    ::cfmakeraw(&tio);  // binary: no translation, no echo, no signals, nulls kept
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;  // CLOCAL: modem lines are not watched
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    // Reads never wait: callers poll and then take what is queued.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B9600) != 0 || ::cfsetospeed(&tio, B9600) != 0) return kPortSetStateFailed;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return kPortSetStateFailed;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return kPortTimeoutsFailed;
    return kPortOpened;
}

void drainPipe(int fd) {
    unsigned char sink[64];
    while (::read(fd, sink, sizeof sink) > 0) {
    }
}

void pokePipe(int fd) {
    const unsigned char one = 1;
    while (::write(fd, &one, 1) < 0 && errno == EINTR) {
    }
}

bool isLossErrno(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

WriteResult writeAll(int fd, const void* bytes, std::size_t count, int stopFd, int waitMs) {
    const auto* at = static_cast<const unsigned char*>(bytes);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, at + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return isLossErrno(errno) ? WriteResult::Lost : WriteResult::Failed;
        pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
        const int ready = ::poll(fds, stopFd >= 0 ? 2 : 1, waitMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return WriteResult::Failed;
        }
        if (ready == 0) return WriteResult::TimedOut;
        if (stopFd >= 0 && fds[1].revents) return WriteResult::Stopped;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return WriteResult::Lost;
    }
    return WriteResult::Written;
}

void catchStopSignals(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace ostrakan
