#include "tools/sim/sim_server.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "serial/line.h"
#include "serial/unix/trace.h"
#include "serial/unix/tty_io.h"

namespace ostrakan::sim {

namespace {

void traceBytes(int fd, const char* direction, const std::string& bytes) {
    writeTrace(fd, direction, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

bool pauseUnlessStopped(int stopFd, int ms) {
    if (ms == 0) return true;
    pollfd stop{stopFd, POLLIN, 0};
    for (;;) {
        const int r = ::poll(&stop, 1, ms);
        if (r < 0 && errno == EINTR) continue;
        return r == 0;
    }
}

void SimServer::send(int fd, int stopFd, const std::string& bytes) {
    traceBytes(traceFd_, "TX", bytes);
    // Nobody reads the line: wait a little, then drop the rest. A hang-up is
    // seen by serve() next.
    (void)writeAll(fd, bytes.data(), bytes.size(), stopFd, 200);
}

void SimServer::handleBurst(int fd, int stopFd, const std::string& burst) {
    traceBytes(traceFd_, "RX", burst);
    for (const std::string& request : DeviceModel::splitRequests(burst)) {
        if (hangUpAfter_ >= 0 && answered_ >= hangUpAfter_) {
            unplugged_ = true;
            return;
        }
        ++answered_;
        const std::string name = DeviceModel::nameOf(request);
        // A request met by --silent or --error is lost: the device does not act on it.
        // One met by --ignore is answered by a copy, so the unit's state stays.
        bool lost = false, ignored = false;
        for (const Fault& f : faults_) {
            if ((f.kind == FaultKind::Silent || f.kind == FaultKind::Error) && faultMatches(f, name)) lost = true;
            if (f.kind == FaultKind::Ignore && faultMatches(f, name)) ignored = true;
        }
        std::string answer;
        if (ignored && !lost) answer = DeviceModel(model_).answer(request);
        else if (!lost) answer = model_.answer(request);
        const Transmission t = planTransmission(faults_, name, answer);
        if (t.bytes.empty()) continue;
        if (!pauseUnlessStopped(stopFd, t.delayMs)) return;
        if (t.chunkSize == 0) {
            send(fd, stopFd, t.bytes);
            continue;
        }
        for (std::size_t at = 0; at < t.bytes.size(); at += t.chunkSize) {
            if (at > 0 && !pauseUnlessStopped(stopFd, t.chunkGapMs)) return;
            send(fd, stopFd, t.bytes.substr(at, t.chunkSize));
        }
    }
}

ServeEnd SimServer::serve(int fd, int stopFd) {
    std::string pending;
    char chunk[1024];
    for (;;) {
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, POLLIN, 0}};
        const int r = ::poll(fds, 2, pending.empty() ? -1 : kRequestQuietMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            return ServeEnd::HungUp;
        }
        if (fds[0].revents) return ServeEnd::Stopped;
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0) {
                pending.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && isLossErrno(errno)) return ServeEnd::HungUp;
        }
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return ServeEnd::HungUp;
        if (r == 0 && !pending.empty()) {
            handleBurst(fd, stopFd, pending);
            pending.clear();
            if (unplugged_) return ServeEnd::Unplugged;
        }
    }
}

bool openSerialDevice(const std::string& path, int* fd, std::string* error) {
    *fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (*fd < 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (configureLine(*fd) != kPortOpened) {
        *error = "cannot set up " + path + " as a serial line: " + std::strerror(errno);
        ::close(*fd);
        *fd = -1;
        return false;
    }
    ::tcflush(*fd, TCIOFLUSH);
    return true;
}

}  // namespace ostrakan::sim
