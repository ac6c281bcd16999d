#include "tools/sim/sim_server.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <cstring>

#include "serial/line.h"
#include "serial/trace.h"
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

bool SimServer::send(int fd, int stopFd, const std::string& bytes) {
    // Nobody reads the line: wait a little, then drop the rest. A hang-up is
    // seen by serve() next.
    if (!pace_) {
        traceBytes(traceFd_, "TX", bytes);
        (void)writeAll(fd, bytes.data(), bytes.size(), stopFd, 200);
        return true;
    }
    // Byte i goes out kByteNanos * i after the first; each wake-up sends every
    // byte that is due, so a late wake-up catches up and the whole answer never
    // takes longer than the line would. Pieces come about 1 ms apart, far under
    // the program's quiet gap.
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long long elapsed = (now.tv_sec - start.tv_sec) * 1000000000LL + (now.tv_nsec - start.tv_nsec);
        const std::size_t due = std::min(bytes.size(), static_cast<std::size_t>(elapsed / kByteNanos) + 1);
        if (due > sent) {
            const std::string piece = bytes.substr(sent, due - sent);
            traceBytes(traceFd_, "TX", piece);
            (void)writeAll(fd, piece.data(), piece.size(), stopFd, 200);
            sent = due;
            continue;
        }
        const long long wait = static_cast<long long>(sent) * kByteNanos - elapsed;
        const timespec timeout{static_cast<time_t>(wait / 1000000000LL), static_cast<long>(wait % 1000000000LL)};
        pollfd stop{stopFd, POLLIN, 0};
        if (::ppoll(&stop, 1, &timeout, nullptr) > 0) return false;
    }
    return true;
}

void SimServer::replayBurst(int fd, int stopFd, const std::string& burst) {
    const RecordedExchange* e = takeExchange(replay_, burst);
    if (!e) return;  // not in the recording: the device says nothing
    const auto start = std::chrono::steady_clock::now();
    for (const RecordedReply& reply : e->replies) {
        const auto due = start + std::chrono::milliseconds(reply.delayMs);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
        if (left.count() > 0 && !pauseUnlessStopped(stopFd, static_cast<int>(left.count()))) return;
        if (!send(fd, stopFd, reply.bytes)) return;
    }
}

void SimServer::handleBurst(int fd, int stopFd, const std::string& burst) {
    traceBytes(traceFd_, "RX", burst);
    if (replaying_) {
        replayBurst(fd, stopFd, burst);
        return;
    }
    for (const std::string& request : DeviceModel::splitRequests(burst)) {
        if (hangUpAfter_ >= 0 && answered_ >= hangUpAfter_) {
            unplugged_ = true;
            return;
        }
        ++answered_;
        const std::string name = DeviceModel::nameOf(request);
        // A request met by --silent or --error is lost: the device does not act on it.
        // One met by --ignore-writes is answered by a copy of the device, which is
        // then thrown away.
        bool lost = false, ignored = false;
        for (const Fault& f : faults_) {
            if (!faultMatches(f, name)) continue;
            if (f.kind == FaultKind::Silent || f.kind == FaultKind::Error) lost = true;
            if (f.kind == FaultKind::IgnoreWrites) ignored = true;
        }
        std::string answer;
        if (ignored && !lost) {
            DeviceModel copy = model_;
            answer = copy.answer(request);
        } else if (!lost) {
            answer = model_.answer(request);
        }
        const Transmission t = planTransmission(faults_, name, answer);
        if (t.bytes.empty()) continue;
        if (!pauseUnlessStopped(stopFd, t.delayMs)) return;
        if (t.chunkSize == 0) {
            if (!send(fd, stopFd, t.bytes)) return;
            continue;
        }
        for (std::size_t at = 0; at < t.bytes.size(); at += t.chunkSize) {
            if (at > 0 && !pauseUnlessStopped(stopFd, t.chunkGapMs)) return;
            if (!send(fd, stopFd, t.bytes.substr(at, t.chunkSize))) return;
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
