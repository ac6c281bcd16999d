// The reader and writer threads of the POSIX back-end.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "serial/unix/posix_line.h"
#include "serial/unix/tty_io.h"

namespace ostrakan {

bool readDevice(int fd, short revents, BurstHandover& handover, TimePoint now) {
    if (revents & POLLIN) {
        std::uint8_t chunk[256];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0) {
                handover.store(chunk, static_cast<std::size_t>(n), now);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && isLossErrno(errno)) return false;
            break;  // 0 or EAGAIN: nothing more queued
        }
    }
    // Bytes that came before a hang-up are kept; then the line is gone.
    return (revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

void* PosixLine::readerMain(void* self) {
    static_cast<PosixLine*>(self)->readerLoop();
    return nullptr;
}

void* PosixLine::writerMain(void* self) {
    static_cast<PosixLine*>(self)->writerLoop();
    return nullptr;
}

// Waits in poll() for received bytes (no time limit while no burst is open, the
// rest of the quiet period while one is), drains the driver in chunks into the
// hand-over, and wakes the window's thread when a burst has ended. While a burst
// is held the device is polled for nothing but a hang-up or an error, so a loss
// is seen at once even then.
void PosixLine::readerLoop() {
    for (;;) {
        const short wanted = handover_.accepting() ? POLLIN : 0;
        pollfd fds[3] = {{stopPipe_[0], POLLIN, 0}, {wakePipe_[0], POLLIN, 0}, {fd_, wanted, 0}};
        const int ready = ::poll(fds, 3, handover_.waitMilliseconds(SteadyClock::now()));
        if (ready < 0 && errno == EINTR) continue;
        // A poll() that fails otherwise can no longer watch the device: that is a
        // loss too, rather than a reader that ends and tells nobody.
        const bool gone = ready < 0 || (fds[2].revents && !readDevice(fd_, fds[2].revents, handover_,
                                                                      SteadyClock::now()));
        if (gone) {
            // The burst cut short still reaches the classifier, before the loss.
            if (handover_.endNow()) pokePipe(eventPipe_[1]);
            markLost();
            return;
        }
        if (fds[0].revents) break;  // close(), or the writer saw the loss
        if (fds[1].revents) drainPipe(wakePipe_[0]);
        if (handover_.endIfQuiet(SteadyClock::now())) pokePipe(eventPipe_[1]);
    }
    // A burst cut short by close still reaches the classifier, as the window
    // system's timer would still fire after the port closed.
    if (handover_.endNow()) pokePipe(eventPipe_[1]);
}

// Sleeps until a hand-off (or close, or a loss), then sends the handed-over bytes once.
void PosixLine::writerLoop() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(writerMutex_);
            writerWake_.wait(lock, [this] { return pending_ || writerStop_; });
            if (writerStop_) return;
            pending_ = false;
            busy_ = true;
        }
        const WriteResult result = writeAll(fd_, outgoing_, outgoingCount_, stopPipe_[0]);
        {
            std::lock_guard<std::mutex> lock(writerMutex_);
            busy_ = false;
            written_ = result == WriteResult::Written;
        }
        if (result == WriteResult::Lost) {
            markLost();
            return;
        }
        // Any other failure is not retried: the procedure runs into its deadline.
    }
}

}  // namespace ostrakan
