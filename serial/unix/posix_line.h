// The POSIX serial back-end: a termios device at 9600 8N1 raw, a reader thread
// blocked in poll() that assembles bursts and owns the 200 ms quiet-line timer,
// and a writer thread that sends the transmit buffer once per hand-off.
//
// The end of a burst is handed to the host loop (the window's thread) through a
// pipe; the host loop runs the reply classifier and, after the tick that follows,
// releases the burst. Until then the reader leaves new bytes in the driver, so
// the receive buffer is never written while the window's thread reads it (the
// BurstHandover does the bookkeeping, as on Win32).
//
// A device that goes away under the open port (POLLHUP, POLLERR or POLLNVAL on
// the descriptor, a read or write failing with EIO, ENXIO or ENODEV) ends both
// threads and is reported through the same pipe; the window's thread then closes
// the port.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "timing/clock.h"
#include "serial/burst_handover.h"
#include "serial/line.h"
#include "serial/link_buffers.h"
#include "serial/unix/port_map.h"

namespace ostrakan {

// What the host loop needs from a line whose gap timer runs on another thread.
class BurstEvents {
public:
    // Readable when a burst has ended (poll it with the tick's timeout).
    virtual int burstEventFd() const = 0;
    // True once per ended burst; its bytes are then safe to read on this thread.
    virtual bool takeBurstEnd() = 0;
    // True once after the device was lost; the window's thread then closes the port.
    virtual bool takeLineLost() = 0;

protected:
    ~BurstEvents() = default;
};

// Why the last open failed, for messages the user can act on.
enum class OpenFailure : std::uint8_t {
    None,
    NoSuchName,       // a COM name without a device
    NoSuchDevice,     // ENOENT, ENXIO, ENODEV
    PermissionDenied, // EACCES, EPERM
    InUse,            // another program holds the lock or the exclusive mode
    NotATerminal,     // the file is no serial device
    Other,
};

class PosixLine : public Line, public BurstEvents {
public:
    explicit PosixLine(LinkBuffers& link);
    ~PosixLine();
    PosixLine(const PosixLine&) = delete;
    PosixLine& operator=(const PosixLine&) = delete;

    // Line. All of these run on the window's thread.
    int open(const char* name) override;
    bool isOpen() const override { return fd_ >= 0; }
    void close() override;
    void handOff() override;
    void stopGapTimer() override;
    void releaseBurst() override;
    bool lost() const override { return lost_.load(std::memory_order_acquire); }

    // BurstEvents, window's thread.
    int burstEventFd() const override { return eventPipe_[0]; }
    bool takeBurstEnd() override;
    bool takeLineLost() override;

    // Whether every byte of the last hand-off the writer took reached the driver
    // (false while it is still being written, or when the write failed).
    bool lastHandOffWritten();

    // The last open's failure: kind, the system's errno and the file tried.
    OpenFailure lastFailure() const { return failure_; }
    int lastErrno() const { return failureErrno_; }
    const char* lastDevice() const { return device_; }
    // One line for the user: "/dev/ttyS2: no such device" and the like.
    void describeFailure(char* text, std::size_t room) const;

    // Writes every hand-off and every ended burst to this descriptor (-1: none).
    void setTrace(int fd) { traceFd_ = fd; }

    // Bytes the reader read from the driver and dropped past the 600-byte buffer
    // (for tests; written by the reader, read after close).
    std::uint32_t droppedBytes() const { return handover_.droppedBytes(); }
    // Threads started since construction (for tests: reopening starts fresh ones).
    unsigned threadStarts() const { return threadStarts_; }

private:
    static void* readerMain(void* self);
    static void* writerMain(void* self);
    void readerLoop();
    void writerLoop();
    // Reader or writer: the device is gone; ends the other thread and tells the
    // window's thread.
    void markLost();
    // Asks the reader and the writer to end (any thread); joining is the caller's.
    void stopThreads();
    int fail(OpenFailure kind, int err, int code);
    void closeDevice();
    void trace(const char* direction, const std::uint8_t* bytes, std::size_t count);

    LinkBuffers& link_;

    // The open device. Written by the window's thread only while no reader or
    // writer exists (open() before starting them, close() after joining them);
    // the threads read it in between, ordered by pthread_create and pthread_join.
    int fd_ = -1;
    // Window's thread only.
    bool exclusive_ = false;  // we set TIOCEXCL and must clear it: it outlives our descriptor
    OpenFailure failure_ = OpenFailure::None;
    int failureErrno_ = 0;
    char device_[kDevicePathRoom] = {};
    int traceFd_ = -1;
    unsigned threadStarts_ = 0;
    pthread_t reader_{};
    pthread_t writer_{};

    // Made once in the constructor, never changed until the destructor.
    // stopPipe_: written by close() on the window's thread, or by markLost() on the
    //   thread that saw the loss; never drained while a session runs, so both
    //   threads see it readable until they have ended.
    // wakePipe_: written by releaseBurst() on the window's thread, drained by the reader.
    // eventPipe_: written by the reader when a burst ended and by markLost();
    //   drained by takeBurstEnd() and takeLineLost() on the window's thread.
    int stopPipe_[2] = {-1, -1};
    int wakePipe_[2] = {-1, -1};
    int eventPipe_[2] = {-1, -1};

    // The receive side's hand-over; see burst_handover.h for who touches what.
    BurstHandover handover_{link_};

    // Set by markLost() (reader or writer thread, release) once per session;
    // cleared by close() on the window's thread after both threads have ended.
    std::atomic<bool> lost_{false};
    // Set by markLost() together with lost_; cleared by takeLineLost().
    std::atomic<bool> lossUntold_{false};

    // Transmit side. writerMutex_ guards the fields below it.
    std::mutex writerMutex_;
    std::condition_variable writerWake_;
    // Set by close() (window's thread) to end the writer; cleared by open().
    bool writerStop_ = false;
    // Set by handOff() (window's thread) when it filled outgoing_; cleared by the
    // writer when it takes the bytes.
    bool pending_ = false;
    // Set by the writer while it sends outgoing_ (it then reads outgoing_ without
    // the lock); handOff() leaves outgoing_ alone meanwhile, so a hand-off during a
    // write is not sent, as with a writer that is not suspended yet.
    bool busy_ = false;
    // Cleared by handOff() when it gives the writer bytes; set by the writer once
    // all of them went out.
    bool written_ = false;
    std::size_t outgoingCount_ = 0;
    std::uint8_t outgoing_[kTransmitBufferSize] = {};
};

// One wake-up of the reader: takes what poll() reported on the device (`revents`)
// into the hand-over. False when the system says the device is gone: a hang-up or
// an error on the descriptor, or a read failing with EIO, ENXIO or ENODEV. A read
// of 0 bytes alone is no loss: with VMIN=0 and VTIME=0 it means nothing is queued.
bool readDevice(int fd, short revents, BurstHandover& handover, TimePoint now);

}  // namespace ostrakan
