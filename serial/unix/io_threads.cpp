// The reader and writer threads of the POSIX back-end.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/tick.h"
#include "serial/unix/posix_line.h"
#include "serial/quiet_timer.h"

namespace ostrakan {

void* PosixLine::readerMain(void* self) {
    static_cast<PosixLine*>(self)->readerLoop();
    return nullptr;
}

void* PosixLine::writerMain(void* self) {
    static_cast<PosixLine*>(self)->writerLoop();
    return nullptr;
}

// Waits in poll() for received bytes (no time limit while no burst is open, the
// rest of the quiet period while one is), drains the driver in chunks and appends
// them to the receive buffer. When the line has been quiet for the whole period
// the burst is handed to the window's thread, and the driver is not read again
// until the window's thread has released the burst.
void PosixLine::readerLoop() {
    QuietTimer gap{Milliseconds(kGapMilliseconds)};
    bool deviceGone = false;  // hang-up: stop polling the descriptor, which stays readable
    std::uint8_t chunk[256];
    // The burst is complete: hold the driver's further bytes until the window's
    // thread has classified this one and taken its reply, then tell it.
    const auto endBurst = [this] {
        held_.store(true, std::memory_order_release);
        burstEnded_.store(true, std::memory_order_release);
        const std::uint8_t one = 1;
        (void)::write(eventPipe_[1], &one, 1);
    };

    for (;;) {
        const bool held = held_.load(std::memory_order_acquire);
        pollfd fds[3] = {{stopPipe_[0], POLLIN, 0}, {wakePipe_[0], POLLIN, 0}, {fd_, POLLIN, 0}};
        const nfds_t count = held || deviceGone ? 2 : 3;
        const int ready = ::poll(fds, count, gap.pollTimeout(SteadyClock::now()));
        if (ready < 0 && errno != EINTR) break;
        if (fds[0].revents) break;  // close(): stop
        if (fds[1].revents) {
            std::uint8_t sink[16];
            while (::read(wakePipe_[0], sink, sizeof sink) > 0) {
            }
        }
        if (count == 3 && fds[2].revents) {
            std::size_t received = 0;
            std::uint32_t length = link_.receiveLength.load(std::memory_order_relaxed);
            const bool firstChunk = !gap.running();
            if (firstChunk) length = 0;
            for (;;) {
                const ssize_t n = ::read(fd_, chunk, sizeof chunk);
                if (n <= 0) {
                    if (n < 0 && errno == EINTR) continue;
                    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) deviceGone = received == 0;
                    break;
                }
                received += static_cast<std::size_t>(n);
                // Bytes past the 600-byte buffer are read and dropped.
                const std::size_t room = kReceiveBufferSize - length;
                const std::size_t keep = static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room;
                std::memcpy(link_.receiveBuffer + length, chunk, keep);
                length += static_cast<std::uint32_t>(keep);
                if (keep < static_cast<std::size_t>(n))
                    dropped_.fetch_add(static_cast<std::uint32_t>(static_cast<std::size_t>(n) - keep),
                                       std::memory_order_relaxed);
            }
            if (received > 0) {
                if (firstChunk) link_.gapTimerRunning.store(1, std::memory_order_relaxed);
                link_.receiveLength.store(length, std::memory_order_release);
                gap.restart(SteadyClock::now());
            }
        }
        if (gap.expire(SteadyClock::now())) endBurst();
    }
    // A burst cut short by close still reaches the classifier, as the window
    // system's timer would still fire after the port closed.
    if (gap.running()) endBurst();
}

// Sleeps until a hand-off (or close), then sends the handed-over bytes once.
void PosixLine::writerLoop() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(writerMutex_);
            writerWake_.wait(lock, [this] { return pending_ || writerStop_; });
            if (writerStop_) return;
            pending_ = false;
            busy_ = true;
        }
        writeAll(outgoing_, outgoingCount_);
        std::lock_guard<std::mutex> lock(writerMutex_);
        busy_ = false;
    }
}

// Writes every byte, waiting in poll() when the driver's queue is full; close()
// ends the wait. A failed write is not retried or reported.
bool PosixLine::writeAll(const std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd fds[2] = {{stopPipe_[0], POLLIN, 0}, {fd_, POLLOUT, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
        if (fds[0].revents) return false;
        if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
    return true;
}

}  // namespace ostrakan
