// The serial line on the Win32 communication functions: the port opened
// exclusively for overlapped I/O, a reader thread that collects bursts and owns
// the 200 ms quiet period, and a writer thread that sends each hand-off once.
//
// The reader hands each ended burst to the window's thread with a posted
// message and then reads nothing from the driver until the window's thread has
// released the burst (the tick after the classifier). A device that goes away
// under the open port (a pulled adapter) ends both threads and is reported with
// another posted message; the window's thread then closes the port. The reader
// also asks the driver about the line about once a second while idle, so a
// driver that never ends a pending wait after a removal is still found out.
//
// Every open makes a new session (handle, events, overlapped records, the
// hand-off slot); nothing of a lost one reaches the next. Threads end by their
// stop event only. A session whose driver never gives a request back, or whose
// thread never returns from the driver, is abandoned as it is, never freed.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "serial/burst_handover.h"
#include "serial/line.h"
#include "serial/link_buffers.h"

namespace ostrakan {

// Posted to the main window by the reader when a burst has ended: the window's
// thread takes it (takeBurstEnd) and runs the reply classifier.
constexpr UINT kBurstEndedMessage = WM_APP + 2;
// Posted to the main window once when a thread saw the device go away: the
// window's thread closes the port and says so (Core::onLineLost).
constexpr UINT kLineLostMessage = WM_APP + 3;

// The line settings the program uses, applied to what the driver reported.
void applyLineSettings(DCB& dcb);
COMMTIMEOUTS lineTimeouts();

class Win32Line : public Line {
public:
    explicit Win32Line(LinkBuffers& link) : link_(link), handover_(link) {}
    Win32Line(const Win32Line&) = delete;
    Win32Line& operator=(const Win32Line&) = delete;

    // Known only after CreateWindowExA has returned; the port opens later.
    void setMainWindow(HWND main) { main_ = main; }

    int open(const char* name) override;
    bool isOpen() const override { return session_ != nullptr; }
    void close() override;
    void handOff() override;
    // The reader ends bursts itself; nothing to stop on the window's thread.
    void stopGapTimer() override {}
    void releaseBurst() override;
    bool lost() const override { return lost_.load(std::memory_order_acquire); }

    // Window's thread, on kBurstEndedMessage: true once per ended burst.
    bool takeBurstEnd() { return handover_.takeEnded(); }

    // Whether the driver wrote every byte of the last hand-off (false while it is
    // queued or being written, and when the write failed or timed out), for the
    // command-line tool. After a close: as it stood when the port closed.
    bool lastHandOffWritten() const;
    // The last open's name and the system's error code for its failure.
    const char* lastDevice() const { return name_; }
    DWORD lastOpenError() const { return openError_; }
    // Writes every hand-off and every ended burst to this C descriptor (-1: none);
    // set before the port opens.
    void setTrace(int fd) { traceFd_ = fd; }
    // Sessions left behind because their driver kept a request or a thread.
    unsigned abandonedSessions() const { return abandoned_; }

    // Everything one open made (defined in win32_line.cpp).
    struct Session;

private:
    enum class Probe { present, gone, unknown };
    enum class WriteEnd { written, notWritten, leave };

    static DWORD WINAPI readerEntry(LPVOID session);
    static DWORD WINAPI writerEntry(LPVOID session);
    void readerLoop(Session& s);
    void writerLoop(Session& s);
    WriteEnd writeFrame(Session& s, DWORD count);
    // Reads `queued` bytes into the burst. False when the thread must leave.
    bool receive(Session& s, DWORD queued);
    // Waits at most `limitMs` for a request on `record`. False when the thread
    // must leave (stopped, or the device is gone; the request is then withdrawn).
    bool finish(Session& s, OVERLAPPED& record, DWORD limitMs, DWORD* transferred);
    // Asks the driver about the line (and how many bytes wait in it).
    Probe probe(Session& s, DWORD* queued);
    // Cancels the calling thread's requests; false when the driver kept `record`.
    bool withdraw(Session& s, OVERLAPPED& record);
    // A thread saw the device go away: both threads leave, the window is told once.
    void lose(Session& s);
    void endBurst();
    static void closeEvents(Session& s);

    LinkBuffers& link_;
    BurstHandover handover_;
    HWND main_ = nullptr;

    // Window's thread only: made by open, freed (or abandoned) by close.
    Session* session_ = nullptr;
    // Window's thread only: the last open's name and failure.
    char name_[16] = {};
    DWORD openError_ = 0;
    // lastHandOffWritten() of the session the last close ended.
    bool closedWritten_ = false;
    unsigned abandoned_ = 0;
    // Set by the window's thread before open; read by the reader and the writer.
    int traceFd_ = -1;
    // Set by the first thread that saw the device go (exchange); cleared by
    // open and close on the window's thread.
    std::atomic<bool> lost_{false};
};

}  // namespace ostrakan
