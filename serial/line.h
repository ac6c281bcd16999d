// The serial-line seam: what the core asks of a platform's port and its reader and
// writer threads. Back-ends: serial/windows (Win32), serial/unix (POSIX), and the
// tests' scripted fake line.
#pragma once

#include <cstddef>

namespace ostrakan {

// Results of the port open operation.
enum PortOpenResult : int {
    kPortOpened = 0,
    kPortOpenFailed = -1,       // the device could not be opened
    kPortGetStateFailed = -2,   // reading the line settings failed
    kPortSetStateFailed = -3,   // writing the line settings failed
    kPortTimeoutsFailed = -4,   // installing the time-outs failed
};

class Line {
public:
    // Opens and configures the device for `name` (a COM name, or on POSIX also a
    // device path) at 9600 8N1 and starts the reader and writer. Must not touch an
    // already open port: the caller checks isOpen() first.
    virtual int open(const char* name) = 0;
    virtual bool isOpen() const = 0;
    // Stops both threads for certain, then closes the device. Safe when closed.
    virtual void close() = 0;

    // Send hand-off: the transmit buffer holds the count and bytes; discard the
    // driver's transmit queue and let the writer send them once. No result.
    virtual void handOff() = 0;

    // Called by the reply classifier on the window's thread when the gap timer fired.
    virtual void stopGapTimer() = 0;

    // Window's thread, on the tick after the classifier ran: the waiting procedure
    // has taken its reply, so the reader may start the next burst at offset 0.
    virtual void releaseBurst() = 0;

    // True once the back end has seen the device go away under the open port (a
    // pulled cable or adapter): its reader and writer have then ended, and the
    // window's thread is told to close the port. False again after close().
    virtual bool lost() const = 0;

protected:
    ~Line() = default;
};

}  // namespace ostrakan
