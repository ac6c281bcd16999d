// Descriptor-level helpers shared by the POSIX back end and the simulator: the
// line set-up, what counts as a lost device, and the write-all loop.
#pragma once

#include <cstddef>

namespace ostrakan {

// Puts a terminal descriptor into 9600 8N1 raw mode (no flow control, modem lines
// not watched, reads that never wait: VMIN=0, VTIME=0) and makes it non-blocking.
// Returns kPortOpened, or the PortOpenResult of the step that failed with errno
// set by the system: kPortGetStateFailed, kPortSetStateFailed or
// kPortTimeoutsFailed (the descriptor flags, our stand-in for the time-outs).
int configureLine(int fd);

// The errors with which the system says the device itself has gone (a pulled
// adapter, a pseudo-terminal whose other side closed).
bool isLossErrno(int err);

enum class WriteResult {
    Written,   // every byte was taken by the driver
    Stopped,   // stopFd became readable first
    Lost,      // the device is gone (hang-up, EIO, ENXIO, ENODEV)
    TimedOut,  // the driver took nothing for waitMs
    Failed,    // any other error
};

// The self-pipes that wake a thread waiting in poll(): drainPipe() empties a
// non-blocking read end, pokePipe() writes one byte (a full pipe already says
// "wake up", so a write that finds it full is no failure).
void drainPipe(int fd);
void pokePipe(int fd);

// Writes all `count` bytes to a non-blocking descriptor, waiting in poll() for
// room when the driver's queue is full: retried on EINTR, waited on EAGAIN. A
// readable stopFd (-1: none) ends the wait; waitMs (-1: no limit) bounds each wait.
WriteResult writeAll(int fd, const void* bytes, std::size_t count, int stopFd, int waitMs = -1);

// Sends SIGINT and SIGTERM to `handler` without SA_RESTART, so a blocked read or
// poll returns at once with EINTR, and ignores SIGPIPE: a closed peer shows as
// a write error instead.
void catchStopSignals(void (*handler)(int));

}  // namespace ostrakan
