// The serial line on the Win32 communication functions: the port opened
// exclusively for overlapped I/O, a reader thread that collects bursts and arms
// the gap timer of the main window, and a writer thread that sends the transmit
// buffer once per hand-off and then suspends itself.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "serial/line.h"
#include "serial/link_buffers.h"

namespace ostrakan {

// Posted to the main window when the reader could not arm the gap timer itself:
// the window's thread arms it instead.
constexpr UINT kArmGapTimerMessage = WM_APP + 1;
constexpr UINT_PTR kGapTimerId = 1;
constexpr UINT kGapTimerPeriod = 200;

// The line settings the program uses, applied to what the driver reported.
void applyLineSettings(DCB& dcb);
COMMTIMEOUTS lineTimeouts();

class Win32Line : public Line {
public:
    explicit Win32Line(LinkBuffers& link) : link_(link) {}
    Win32Line(const Win32Line&) = delete;
    Win32Line& operator=(const Win32Line&) = delete;

    // Known only after CreateWindowExA has returned; the port opens later.
    void setMainWindow(HWND main) { main_ = main; }

    int open(const char* name) override;
    bool isOpen() const override { return port_ != INVALID_HANDLE_VALUE; }
    void close() override;
    void handOff() override;
    void stopGapTimer() override;
    void releaseBurst() override {}
    bool lost() const override { return false; }

private:
    static DWORD WINAPI readerEntry(LPVOID self);
    static DWORD WINAPI writerEntry(LPVOID self);
    void readerLoop();
    void writerLoop();
    void receiveChunk(DWORD queued);
    void armGapTimer();
    // Waits for a thread's own overlapped request; false when close asked the
    // thread to stop (the request is then cancelled).
    bool waitForIo(HANDLE ioEvent);
    void stopWriter();
    void stopReader();

    LinkBuffers& link_;
    HWND main_ = nullptr;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE reader_ = nullptr;
    HANDLE writer_ = nullptr;
    // Signalled by close: wakes both threads out of their waits.
    HANDLE stop_ = nullptr;
    // Each thread's event and overlapped record. They outlive the threads, so a
    // request that completes late never writes into a gone thread's stack.
    HANDLE readEvent_ = nullptr;
    HANDLE writeEvent_ = nullptr;
    OVERLAPPED readRecord_{};
    OVERLAPPED writeRecord_{};
    DWORD eventMask_ = 0;
    // Where the reader's ReadFile puts a chunk before it goes into the receive
    // buffer; a member for the same reason as the records.
    std::uint8_t chunk_[2048] = {};
    std::atomic<bool> readerRunning_{false};
    std::atomic<bool> writerRunning_{false};
};

}  // namespace ostrakan
