// The serial line on the Win32 communication functions: the port opened
// exclusively for overlapped I/O, a reader thread that collects bursts and owns
// the 200 ms quiet period, and a writer thread that sends the transmit buffer
// once per hand-off.
//
// The reader hands each ended burst to the window's thread with a posted
// message and then reads nothing from the driver until the window's thread has
// released the burst (the tick after the classifier). A device that goes away
// under the open port (a pulled adapter) ends both threads and is reported with
// another posted message; the window's thread then closes the port.
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
    bool isOpen() const override { return port_ != INVALID_HANDLE_VALUE; }
    void close() override;
    void handOff() override;
    // The reader ends bursts itself; nothing to stop on the window's thread.
    void stopGapTimer() override {}
    void releaseBurst() override;
    bool lost() const override { return lost_.load(std::memory_order_acquire); }

    // Window's thread, on kBurstEndedMessage: true once per ended burst.
    bool takeBurstEnd() { return handover_.takeEnded(); }

    // Whether every byte of the last hand-off reached the driver (false while it
    // is still being written, or when the write failed), for the command-line tool.
    bool lastHandOffWritten() const { return written_.load(std::memory_order_acquire); }
    // The last open's name and the system's error code for its failure.
    const char* lastDevice() const { return name_; }
    DWORD lastOpenError() const { return openError_; }
    // Writes every hand-off and every ended burst to this C descriptor (-1: none);
    // set before the port opens.
    void setTrace(int fd) { traceFd_ = fd; }

private:
    static DWORD WINAPI readerEntry(LPVOID self);
    static DWORD WINAPI writerEntry(LPVOID self);
    void readerLoop();
    void writerLoop();
    // Reads `queued` bytes into the burst. False when the thread must leave.
    bool receive(DWORD queued);
    // Waits for a request on `record`; false when the thread must leave (the
    // request is then cancelled, or the device is gone).
    bool finish(OVERLAPPED& record, DWORD* transferred);
    bool stopping() const;
    // A thread saw the device go away: both threads leave, the window is told once.
    void lose();
    void endBurst();
    void closeHandles();

    LinkBuffers& link_;
    BurstHandover handover_;
    HWND main_ = nullptr;

    // Written by the window's thread only while no reader or writer exists (open
    // before starting them, close after they have gone); the threads read them.
    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE reader_ = nullptr;
    HANDLE writer_ = nullptr;
    // Manual-reset. Set by close, or by a thread that saw the device go: every
    // wait of both threads includes it, so both leave.
    HANDLE stop_ = nullptr;
    // Auto-reset. Set by releaseBurst (window's thread) when the reader held a burst.
    HANDLE wake_ = nullptr;
    // Auto-reset. Set by handOff (window's thread); the writer sends once per wake.
    HANDLE send_ = nullptr;
    // Manual-reset events of the three overlapped records: the reader's event
    // wait and its reads, the writer's writes. The records are members so that a
    // request that completes late never writes into a gone thread's stack.
    HANDLE eventEvent_ = nullptr;
    HANDLE readEvent_ = nullptr;
    HANDLE writeEvent_ = nullptr;
    OVERLAPPED eventRecord_{};
    OVERLAPPED readRecord_{};
    OVERLAPPED writeRecord_{};
    // Reader thread only (the driver writes it when the event wait completes).
    DWORD eventMask_ = 0;
    // Reader thread only: where ReadFile puts a chunk before the hand-over stores it.
    std::uint8_t chunk_[2048] = {};
    // Window's thread only: the last open's name and failure.
    char name_[16] = {};
    DWORD openError_ = 0;
    // Set by the window's thread before open; read by the reader and the writer.
    int traceFd_ = -1;
    // Cleared by handOff (window's thread) when it wakes the writer; set by the
    // writer once every byte of that hand-off went out.
    std::atomic<bool> written_{false};
    // Set by the first thread that saw the device go (exchange); cleared by
    // close on the window's thread once both threads have gone.
    std::atomic<bool> lost_{false};
};

}  // namespace ostrakan
