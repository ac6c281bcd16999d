// Port open, line settings and close of the POSIX back-end.
#include "serial/unix/posix_line.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "serial/trace.h"
#include "serial/unix/tty_io.h"

namespace ostrakan {

namespace {

void makePipe(int (&fds)[2]) {
    if (::pipe(fds) != 0) {
        fds[0] = fds[1] = -1;
        return;
    }
    for (int fd : fds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

void closePipe(int (&fds)[2]) {
    for (int& fd : fds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

OpenFailure failureOf(int err) {
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV: return OpenFailure::NoSuchDevice;
    case EACCES:
    case EPERM: return OpenFailure::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK: return OpenFailure::InUse;
    case ENOTTY: return OpenFailure::NotATerminal;
    default: return OpenFailure::Other;
    }
}

}  // namespace

PosixLine::PosixLine(LinkBuffers& link) : link_(link) {
    makePipe(stopPipe_);
    makePipe(wakePipe_);
    makePipe(eventPipe_);
}

PosixLine::~PosixLine() {
    close();
    closePipe(stopPipe_);
    closePipe(wakePipe_);
    closePipe(eventPipe_);
}

int PosixLine::fail(OpenFailure kind, int err, int code) {
    failure_ = kind;
    failureErrno_ = err;
    closeDevice();
    return code;
}

void PosixLine::closeDevice() {
    if (fd_ < 0) return;
    // The terminal stays exclusive while any descriptor of it is open (a
    // simulator keeps one), so the next program would find it busy.
    if (exclusive_) ::ioctl(fd_, TIOCNXCL);
    exclusive_ = false;
    ::close(fd_);  // also drops the lock
    fd_ = -1;
}

int PosixLine::open(const char* name) {
    if (isOpen()) {  // our own port stays as it is
        failure_ = OpenFailure::InUse;
        failureErrno_ = EBUSY;
        return kPortOpenFailed;
    }
    failure_ = OpenFailure::None;
    failureErrno_ = 0;
    device_[0] = 0;
    if (!mapPortName(name, device_, sizeof device_)) {
        std::snprintf(device_, sizeof device_, "%s", name);
        return fail(OpenFailure::NoSuchName, ENOENT, kPortOpenFailed);
    }
    if (stopPipe_[0] < 0 || wakePipe_[0] < 0 || eventPipe_[0] < 0)
        return fail(OpenFailure::Other, EMFILE, kPortOpenFailed);

    // Non-blocking: the open must not wait for a carrier, and the threads wait in
    // poll(), where close() can always reach them.
    fd_ = ::open(device_, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return fail(failureOf(errno), errno, kPortOpenFailed);
    if (!::isatty(fd_)) return fail(OpenFailure::NotATerminal, ENOTTY, kPortOpenFailed);
    // Exclusive use: the advisory lock is what a second program (even one running
    // as root, which TIOCEXCL does not stop) finds taken.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        return fail(err == EWOULDBLOCK ? OpenFailure::InUse : failureOf(err), err, kPortOpenFailed);
    }
    exclusive_ = ::ioctl(fd_, TIOCEXCL) == 0;

    // The driver's time-outs have no POSIX counterpart: the descriptor stays
    // non-blocking and the threads wait in poll().
    if (const int step = configureLine(fd_); step != kPortOpened) return fail(failureOf(errno), errno, step);

    // DTR and RTS off; a pseudo-terminal has no modem lines and refuses, which is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd_, TIOCMBIC, &lines);
    ::tcflush(fd_, TCIOFLUSH);

    // A fresh session: no stop request, no hand-off left from the last one.
    drainPipe(stopPipe_[0]);
    drainPipe(wakePipe_[0]);
    drainPipe(eventPipe_[0]);
    handover_.reset();
    lossUntold_.store(false, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(writerMutex_);
        writerStop_ = false;
        pending_ = false;
        busy_ = false;
        written_ = false;
    }
    // Writer first, as the window's open command does.
    if (::pthread_create(&writer_, nullptr, &PosixLine::writerMain, this) != 0)
        return fail(OpenFailure::Other, EAGAIN, kPortOpenFailed);
    if (::pthread_create(&reader_, nullptr, &PosixLine::readerMain, this) != 0) {
        stopThreads();
        ::pthread_join(writer_, nullptr);
        return fail(OpenFailure::Other, EAGAIN, kPortOpenFailed);
    }
    threadStarts_ += 2;
    return kPortOpened;
}

void PosixLine::close() {
    if (!isOpen()) return;
    // Ask both threads to end and wait until they have: after this neither touches
    // the descriptor, the buffers or the burst events again.
    stopThreads();
    ::pthread_join(writer_, nullptr);
    ::pthread_join(reader_, nullptr);
    closeDevice();
    drainPipe(stopPipe_[0]);
    // The same name may be opened again, by the user or after a loss.
    lost_.store(false, std::memory_order_release);
}

void PosixLine::stopThreads() {
    {
        std::lock_guard<std::mutex> lock(writerMutex_);
        writerStop_ = true;
    }
    writerWake_.notify_one();
    pokePipe(stopPipe_[1]);  // ends the reader's poll() and a writer waiting for room
}

void PosixLine::markLost() {
    if (lost_.exchange(true, std::memory_order_acq_rel)) return;  // the other thread saw it first
    lossUntold_.store(true, std::memory_order_release);
    stopThreads();            // ends the other thread
    pokePipe(eventPipe_[1]);  // wakes the window's thread
}

bool PosixLine::takeLineLost() {
    if (!lossUntold_.exchange(false, std::memory_order_acq_rel)) return false;
    drainPipe(eventPipe_[0]);
    return true;
}

bool PosixLine::lastHandOffWritten() {
    std::lock_guard<std::mutex> lock(writerMutex_);
    return written_;
}

void PosixLine::handOff() {
    if (!isOpen()) return;  // no writer to wake: the bytes stay where they are
    // Whatever the driver still holds from the last write is discarded.
    ::tcflush(fd_, TCOFLUSH);
    {
        std::lock_guard<std::mutex> lock(writerMutex_);
        if (busy_) return;  // the writer is still sending the last hand-off
        outgoingCount_ = link_.transmitBuffer[0];
        std::memcpy(outgoing_, link_.transmitBuffer + 1, outgoingCount_);
        pending_ = outgoingCount_ > 0;
        if (!pending_) return;  // a count of 0 sends nothing
        written_ = false;
    }
    writerWake_.notify_one();
    trace("TX", link_.transmitBuffer + 1, link_.transmitBuffer[0]);
}

void PosixLine::stopGapTimer() {
    // Nothing to stop: the classifier runs only after the reader found the line
    // quiet for the whole period, and the reader starts no timer until the burst
    // is released.
}

bool PosixLine::takeBurstEnd() {
    drainPipe(eventPipe_[0]);
    if (!handover_.takeEnded()) return false;
    trace("RX", link_.receiveBuffer, link_.burstLength());
    return true;
}

void PosixLine::releaseBurst() {
    if (handover_.release()) pokePipe(wakePipe_[1]);
}

void PosixLine::trace(const char* direction, const std::uint8_t* bytes, std::size_t count) {
    writeTrace(traceFd_, direction, bytes, count);
}

void PosixLine::describeFailure(char* text, std::size_t room) const {
    const char* why = "";
    switch (failure_) {
    case OpenFailure::None: why = "no error"; break;
    case OpenFailure::NoSuchName: why = "no device is mapped to this port name"; break;
    case OpenFailure::NoSuchDevice: why = "no such device"; break;
    case OpenFailure::PermissionDenied:
        why = "permission denied (is the user in the dialout group? "
              "sudo usermod -aG dialout $USER, then log in again)";
        break;
    case OpenFailure::InUse: why = "in use by another program"; break;
    case OpenFailure::NotATerminal: why = "not a serial device"; break;
    case OpenFailure::Other: why = std::strerror(failureErrno_); break;
    }
    std::snprintf(text, room, "%s: %s", device_, why);
}

}  // namespace ostrakan
