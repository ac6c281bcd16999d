#include "serial/windows/win32_line.h"

#include <cstring>
#include <initializer_list>

#include "timing/clock.h"
#include "serial/trace.h"

namespace ostrakan {

namespace {

constexpr DWORD kQueueSize = 2000;
// How long close waits for a thread to leave on its own before forcing it.
constexpr DWORD kStopWaitMs = 2000;
// After cancelling its own pending I/O a thread waits at most this long for the
// cancellation to land, so that its overlapped record is quiet when it leaves.
constexpr DWORD kCancelWaitMs = 1000;
// Event waits in a row that complete at once with nothing to read: a driver that
// does this cannot be waited on, so the reader takes it for a vanished device
// rather than spin.
constexpr unsigned kStrayEventLimit = 16;

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
    std::strncpy(name_, name, sizeof name_ - 1);
    openError_ = 0;
    HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        openError_ = GetLastError();
        return kPortOpenFailed;
    }
    // The failed call's code, before CloseHandle can change it.
    const auto fail = [&](int code) {
        openError_ = GetLastError();
        CloseHandle(port);
        return code;
    };

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return fail(kPortGetStateFailed);
    applyLineSettings(dcb);
    if (!SetCommState(port, &dcb)) return fail(kPortSetStateFailed);
    COMMTIMEOUTS timeouts = lineTimeouts();
    if (!SetCommTimeouts(port, &timeouts)) return fail(kPortTimeoutsFailed);
    SetupComm(port, kQueueSize, kQueueSize);
    PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);

    // Every event before any thread, so a failure leaves nothing running.
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    send_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    eventEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    readEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    writeEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!stop_ || !wake_ || !send_ || !eventEvent_ || !readEvent_ || !writeEvent_) {
        closeHandles();
        CloseHandle(port);
        return kPortOpenFailed;
    }
    eventRecord_ = OVERLAPPED{};
    eventRecord_.hEvent = eventEvent_;
    readRecord_ = OVERLAPPED{};
    readRecord_.hEvent = readEvent_;
    writeRecord_ = OVERLAPPED{};
    writeRecord_.hEvent = writeEvent_;
    handover_.reset();
    lost_.store(false, std::memory_order_relaxed);

    port_ = port;
    writer_ = CreateThread(nullptr, 0, writerEntry, this, 0, nullptr);
    reader_ = writer_ ? CreateThread(nullptr, 0, readerEntry, this, 0, nullptr) : nullptr;
    if (!reader_) {
        close();  // stops the writer if it started, closes the handle and the events
        return kPortOpenFailed;
    }
    return kPortOpened;
}

void Win32Line::close() {
    if (stop_) SetEvent(stop_);
    // Changing the event mask also ends a pending WaitCommEvent.
    if (isOpen()) SetCommMask(port_, 0);
    // Each thread leaves on the stop event, or has already left after a loss.
    for (HANDLE* thread : {&writer_, &reader_}) {
        if (!*thread) continue;
        // Last resort: a request the driver never ends, even when cancelled.
        if (WaitForSingleObject(*thread, kStopWaitMs) != WAIT_OBJECT_0) TerminateThread(*thread, 1);
        CloseHandle(*thread);
        *thread = nullptr;
    }
    // Only now, with both threads gone, may the handle go.
    if (isOpen()) CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
    closeHandles();
    lost_.store(false, std::memory_order_release);
}

void Win32Line::closeHandles() {
    for (HANDLE* event : {&stop_, &wake_, &send_, &eventEvent_, &readEvent_, &writeEvent_}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
    }
}

void Win32Line::handOff() {
    // While the port is closed there is no writer: the bytes wait in the buffer.
    if (!isOpen() || !send_) return;
    PurgeComm(port_, PURGE_TXCLEAR);
    written_.store(false, std::memory_order_release);
    SetEvent(send_);
}

void Win32Line::releaseBurst() {
    // The reader held the burst and left the driver alone: wake it to read on.
    if (handover_.release() && wake_) SetEvent(wake_);
}

DWORD WINAPI Win32Line::readerEntry(LPVOID self) {
    static_cast<Win32Line*>(self)->readerLoop();
    return 0;
}

DWORD WINAPI Win32Line::writerEntry(LPVOID self) {
    static_cast<Win32Line*>(self)->writerLoop();
    return 0;
}

bool Win32Line::stopping() const { return WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0; }

void Win32Line::lose() {
    // A failure seen after our own stop is the stop, not a loss.
    if (stopping()) return;
    SetEvent(stop_);
    if (!lost_.exchange(true, std::memory_order_acq_rel)) PostMessageA(main_, kLineLostMessage, 0, 0);
}

void Win32Line::endBurst() {
    if (traceFd_ >= 0) writeTrace(traceFd_, "RX", link_.receiveBuffer, link_.burstLength());
    PostMessageA(main_, kBurstEndedMessage, 0, 0);
}

bool Win32Line::finish(OVERLAPPED& record, DWORD* transferred) {
    HANDLE waits[2] = {record.hEvent, stop_};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        // Asked to stop: withdraw this thread's pending request and let it land.
        CancelIo(port_);
        WaitForSingleObject(record.hEvent, kCancelWaitMs);
        lose();  // only when the wait itself failed
        return false;
    }
    if (GetOverlappedResult(port_, &record, transferred, FALSE)) return true;
    lose();
    return false;
}

// Waits for received characters, the end of the quiet period, a release or a
// stop, whichever comes first. Every failure of the comm functions ends the
// thread as a loss; every other path blocks before it comes round again.
void Win32Line::readerLoop() {
    bool waiting = false;  // an event wait is outstanding on eventRecord_
    bool look = true;      // ask the driver for queued bytes before waiting
    unsigned stray = 0;    // event waits in a row that ended at once with nothing read
    if (!SetCommMask(port_, EV_RXCHAR)) {
        lose();
        return;
    }
    for (;;) {
        if (handover_.endIfQuiet(SteadyClock::now())) endBurst();
        // Only a release changes this meanwhile, and it also sets the wake event.
        const bool accepting = handover_.accepting();
        if (accepting && look) {
            // After a release too: bytes may have come while the burst was held,
            // and their event has then already fired.
            look = false;
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(port_, &errors, &status)) {
                lose();
                break;
            }
            if (status.cbInQue > 0) {
                if (!receive(status.cbInQue)) break;
                stray = 0;
                continue;
            }
        }
        if (accepting && !waiting) {
            eventMask_ = 0;
            if (WaitCommEvent(port_, &eventMask_, &eventRecord_)) {
                // Ended at once: look at the queue, unless the driver keeps doing this.
                if (++stray >= kStrayEventLimit) {
                    lose();
                    break;
                }
                look = (eventMask_ & EV_RXCHAR) != 0;
                continue;
            }
            if (GetLastError() != ERROR_IO_PENDING) {
                lose();
                break;
            }
            waiting = true;
        }
        // No limit while no burst is open or one is held; the rest of the quiet
        // period while one is open. The driver's event counts only while we accept.
        const int limit = handover_.waitMilliseconds(SteadyClock::now());
        HANDLE waits[3] = {stop_, wake_, eventEvent_};
        const DWORD result = WaitForMultipleObjects(accepting && waiting ? 3 : 2, waits, FALSE,
                                                    limit < 0 ? INFINITE : static_cast<DWORD>(limit));
        if (result == WAIT_TIMEOUT) continue;
        if (result == WAIT_OBJECT_0 + 1) {
            look = true;
            continue;
        }
        if (result == WAIT_OBJECT_0 + 2) {
            waiting = false;
            stray = 0;
            DWORD unused = 0;
            if (!GetOverlappedResult(port_, &eventRecord_, &unused, FALSE)) {
                lose();
                break;
            }
            // Any other event: just wait again.
            look = (eventMask_ & EV_RXCHAR) != 0;
            continue;
        }
        lose();  // only when the wait itself failed: the stop event is ours
        break;
    }
    if (waiting) {
        CancelIo(port_);
        WaitForSingleObject(eventEvent_, kCancelWaitMs);
    }
    // A burst cut short still reaches the classifier, as an armed timer would.
    if (handover_.endNow()) endBurst();
}

bool Win32Line::receive(DWORD queued) {
    // Every queued byte is read from the driver; what does not fit the receive
    // buffer is dropped by the hand-over.
    while (queued > 0) {
        const DWORD want = queued < sizeof chunk_ ? queued : static_cast<DWORD>(sizeof chunk_);
        DWORD got = 0;
        if (!ReadFile(port_, chunk_, want, nullptr, &readRecord_) &&
            GetLastError() != ERROR_IO_PENDING) {
            lose();
            return false;
        }
        if (!finish(readRecord_, &got)) return false;
        // Fewer bytes than the driver said (the read's time-outs ended it): wait again.
        if (got == 0) return true;
        handover_.store(chunk_, got, SteadyClock::now());
        queued -= got < queued ? got : queued;
    }
    return true;
}

// Sleeps until a hand-off (or a stop), then sends the transmit buffer once.
void Win32Line::writerLoop() {
    for (;;) {
        HANDLE waits[2] = {stop_, send_};
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (woken != WAIT_OBJECT_0 + 1) {
            if (woken != WAIT_OBJECT_0) lose();  // the wait itself failed
            return;
        }
        const DWORD count = link_.transmitBuffer[0];
        if (count > 0) {
            DWORD written = 0;
            if (!WriteFile(port_, link_.transmitBuffer + 1, count, nullptr, &writeRecord_) &&
                GetLastError() != ERROR_IO_PENDING) {
                lose();
                return;
            }
            if (!finish(writeRecord_, &written)) return;
            if (written == count) written_.store(true, std::memory_order_release);
            if (traceFd_ >= 0) writeTrace(traceFd_, "TX", link_.transmitBuffer + 1, written);
        }
        // A hand-off made while these bytes were being written is not sent, as
        // with a writer that had not yet gone back to sleep.
        ResetEvent(send_);
    }
}

}  // namespace ostrakan
