#include "serial/windows/win32_line.h"

#include <cstring>

#include "serial/windows/burst_store.h"

namespace ostrakan {

namespace {

constexpr DWORD kQueueSize = 2000;
// How long close waits for a thread to leave on its own before forcing it.
constexpr DWORD kStopWaitMs = 2000;
constexpr DWORD kStopPollMs = 20;
// After cancelling its own pending I/O a thread waits at most this long for the
// cancellation to land, so that its overlapped record is quiet when it leaves.
constexpr DWORD kCancelWaitMs = 1000;

}  // namespace

void applyLineSettings(DCB& dcb) {
    dcb.BaudRate = CBR_9600;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
}

COMMTIMEOUTS lineTimeouts() {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 200;
    t.ReadTotalTimeoutMultiplier = 1;
    t.ReadTotalTimeoutConstant = 100;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = 0;
    return t;
}

int Win32Line::open(const char* name) {
    // A failed open must leave a working port, its handle and its threads alone.
    if (isOpen()) return kPortOpenFailed;

    char path[16] = "\\\\.\\";
    std::strncat(path, name, sizeof path - std::strlen(path) - 1);
    HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) return kPortOpenFailed;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        CloseHandle(port);
        return kPortGetStateFailed;
    }
    applyLineSettings(dcb);
    if (!SetCommState(port, &dcb)) {
        CloseHandle(port);
        return kPortSetStateFailed;
    }
    COMMTIMEOUTS timeouts = lineTimeouts();
    if (!SetCommTimeouts(port, &timeouts)) {
        CloseHandle(port);
        return kPortTimeoutsFailed;
    }
    SetupComm(port, kQueueSize, kQueueSize);
    PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);

    port_ = port;
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // The writer first, suspended until the first hand-off; then the reader.
    writerRunning_ = true;
    writer_ = CreateThread(nullptr, 0, writerEntry, this, CREATE_SUSPENDED, nullptr);
    if (!writer_) writerRunning_ = false;
    readerRunning_ = true;
    reader_ = CreateThread(nullptr, 0, readerEntry, this, 0, nullptr);
    if (!reader_) readerRunning_ = false;
    return kPortOpened;
}

void Win32Line::close() {
    writerRunning_ = false;
    readerRunning_ = false;
    if (stop_) SetEvent(stop_);
    // Changing the event mask also ends a pending WaitCommEvent.
    if (isOpen()) SetCommMask(port_, 0);
    stopWriter();
    stopReader();
    // Only now, with both threads gone, may the handle go.
    if (isOpen()) CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
    if (stop_) CloseHandle(stop_);
    stop_ = nullptr;
}

void Win32Line::stopWriter() {
    if (!writer_) return;
    // The writer may be suspended, or just about to suspend itself after a
    // write: keep resuming it until it has seen its flag and left.
    bool ended = false;
    for (DWORD waited = 0; waited < kStopWaitMs; waited += kStopPollMs) {
        ResumeThread(writer_);
        if (WaitForSingleObject(writer_, kStopPollMs) == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
    }
    if (!ended) TerminateThread(writer_, 1);  // last resort: a write that never ends
    CloseHandle(writer_);
    writer_ = nullptr;
    if (writeEvent_) CloseHandle(writeEvent_);
    writeEvent_ = nullptr;
}

void Win32Line::stopReader() {
    if (!reader_) return;
    if (WaitForSingleObject(reader_, kStopWaitMs) != WAIT_OBJECT_0) TerminateThread(reader_, 1);
    CloseHandle(reader_);
    reader_ = nullptr;
    if (readEvent_) CloseHandle(readEvent_);
    readEvent_ = nullptr;
}

void Win32Line::handOff() {
    // While the port is closed there is no writer: the bytes wait in the buffer.
    if (!isOpen() || !writer_) return;
    PurgeComm(port_, PURGE_TXCLEAR);
    ResumeThread(writer_);
}

void Win32Line::stopGapTimer() {
    if (main_) KillTimer(main_, kGapTimerId);
}

DWORD WINAPI Win32Line::readerEntry(LPVOID self) {
    static_cast<Win32Line*>(self)->readerLoop();
    return 0;
}

DWORD WINAPI Win32Line::writerEntry(LPVOID self) {
    static_cast<Win32Line*>(self)->writerLoop();
    return 0;
}

bool Win32Line::waitForIo(HANDLE ioEvent) {
    HANDLE waits[2] = {ioEvent, stop_};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) return true;
    // Asked to stop: withdraw this thread's pending request and let it land.
    CancelIo(port_);
    WaitForSingleObject(ioEvent, kCancelWaitMs);
    return false;
}

void Win32Line::readerLoop() {
    readEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    readRecord_ = OVERLAPPED{};
    readRecord_.hEvent = readEvent_;
    SetCommMask(port_, EV_RXCHAR);
    while (readerRunning_) {
        eventMask_ = 0;
        if (!WaitCommEvent(port_, &eventMask_, &readRecord_)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                // A refused wait would otherwise spin; pause unless told to stop.
                WaitForSingleObject(stop_, kStopPollMs);
                continue;
            }
            if (!waitForIo(readEvent_)) break;
        }
        DWORD unused = 0;
        if (!GetOverlappedResult(port_, &readRecord_, &unused, FALSE)) continue;
        if (!(eventMask_ & EV_RXCHAR)) continue;
        DWORD errors = 0;
        COMSTAT status{};
        ClearCommError(port_, &errors, &status);
        if (status.cbInQue == 0 || !readerRunning_) continue;
        armGapTimer();
        receiveChunk(status.cbInQue);
    }
}

void Win32Line::armGapTimer() {
    UINT_PTR started;
    if (link_.gapTimerRunning.load(std::memory_order_acquire) == 0) {
        // The first chunk of a new burst: it goes to offset 0.
        link_.receiveLength.store(0, std::memory_order_relaxed);
        started = SetTimer(main_, kGapTimerId, kGapTimerPeriod, nullptr);
    } else {
        KillTimer(main_, kGapTimerId);
        started = SetTimer(main_, kGapTimerId, kGapTimerPeriod, nullptr);
    }
    if (started == 0) {
        // A system that will not let this thread arm the window's timer: have the
        // window's thread arm it. The burst counts as timed from now on.
        PostMessageA(main_, kArmGapTimerMessage, 0, 0);
        started = kGapTimerId;
    }
    link_.gapTimerRunning.store(static_cast<std::uint32_t>(started), std::memory_order_release);
}

void Win32Line::receiveChunk(DWORD queued) {
    // Every queued byte is read from the driver; what does not fit the receive
    // buffer is dropped by storeChunk.
    while (queued > 0 && readerRunning_) {
        const DWORD want = queued < sizeof chunk_ ? queued : static_cast<DWORD>(sizeof chunk_);
        DWORD got = 0;
        if (!ReadFile(port_, chunk_, want, &got, &readRecord_)) {
            if (GetLastError() != ERROR_IO_PENDING) return;
            if (!waitForIo(readEvent_)) return;
            if (!GetOverlappedResult(port_, &readRecord_, &got, FALSE)) return;
        }
        if (got == 0) return;
        storeChunk(link_, chunk_, got);
        queued -= got < queued ? got : queued;
    }
}

void Win32Line::writerLoop() {
    writeEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    writeRecord_ = OVERLAPPED{};
    writeRecord_.hEvent = writeEvent_;
    while (writerRunning_) {
        const DWORD count = link_.transmitBuffer[0];
        if (count > 0) {
            if (!WriteFile(port_, link_.transmitBuffer + 1, count, nullptr, &writeRecord_) &&
                GetLastError() == ERROR_IO_PENDING && !waitForIo(writeEvent_))
                break;
        }
        if (!writerRunning_) break;
        // Until the next hand-off resumes it.
        SuspendThread(GetCurrentThread());
    }
}

}  // namespace ostrakan
