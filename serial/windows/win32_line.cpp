#include "serial/windows/win32_line.h"

#include <cstring>
#include <initializer_list>
#include <mutex>
#include <new>

#include "serial/trace.h"
#include "timing/clock.h"

namespace ostrakan {

namespace {

constexpr DWORD kQueueSize = 2000;
// How long close waits for a thread to leave on its own. One that has not left
// by then is inside the driver: its session is abandoned, the thread never killed
// (killing it could leave a lock of the C runtime held for good).
constexpr DWORD kStopWaitMs = 2000;
// After cancelling its own pending request a thread waits at most this long for
// the cancellation to land.
constexpr DWORD kCancelWaitMs = 1000;
// Wakes in a row with nothing to read. A driver whose waits keep ending at once
// is read with timed reads instead; a timed read that keeps ending at once with
// nothing is a driver that has gone.
constexpr unsigned kEmptyWakeLimit = 16;
// The reader asks the driver about the line at least this often: some drivers
// never end a pending wait when their device is pulled, but fail this question.
constexpr auto kProbeInterval = Milliseconds(1000);
// A write at 9600 baud takes about 1 ms a byte: 255 bytes never come near this.
constexpr DWORD kWriteTimeoutMs = 2000;
// A driver that ignores the write time-out is given this long before the write
// is cancelled.
constexpr DWORD kWriteLimitMs = kWriteTimeoutMs + 1000;
// Reads end by the line's time-outs (1 ms a byte + 100 ms); a driver that keeps
// a read past this is asked to give it back.
constexpr DWORD kReadLimitMs = 4000;
// A timed read asks for this much, so that its total time-out stays short.
constexpr DWORD kTimedReadSize = 64;
// A timed read that ends empty sooner than this did not wait at all.
constexpr auto kQuickRead = Milliseconds(50);

}  // namespace

// Everything one open made. Threads get the session, not the line's members, so
// that a late thread of an abandoned session never touches the next one's.
struct Win32Line::Session {
    Win32Line* line = nullptr;
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    // Manual-reset. Set by close, or by a thread that saw the device go: every
    // wait of both threads includes it, so both leave.
    HANDLE stop = nullptr;
    // Auto-reset. Set by releaseBurst (window's thread) when the reader held a burst.
    HANDLE wake = nullptr;
    // Auto-reset. Set by each hand-off; the writer then sends what the slot holds.
    HANDLE send = nullptr;
    // Manual-reset events of the three overlapped records: the reader's event
    // wait and its reads, the writer's writes.
    HANDLE eventEvent = nullptr;
    HANDLE readEvent = nullptr;
    HANDLE writeEvent = nullptr;
    OVERLAPPED eventRecord{};
    OVERLAPPED readRecord{};
    OVERLAPPED writeRecord{};
    // Reader thread only (the driver writes it when the event wait completes).
    DWORD eventMask = 0;
    // Reader thread only: where ReadFile puts a chunk before the hand-over stores it.
    std::uint8_t chunk[2048] = {};
    // Writer thread only: the frame being written (the driver reads it meanwhile,
    // so the senders' transmit buffer is free for the next frame).
    std::uint8_t frame[kTransmitBufferSize] = {};

    // The hand-off slot: the newest frame not yet taken by the writer.
    std::mutex slotLock;
    std::uint8_t slot[kTransmitBufferSize] = {};
    bool slotFull = false;
    unsigned slotNumber = 0;
    // Window's thread only: hand-offs made in this session.
    unsigned handedOff = 0;
    // Writer: the number of the last frame the driver wrote whole.
    std::atomic<unsigned> written{0};

    // A request the driver never gave back: its record may still be written.
    std::atomic<bool> driverKeepsRecord{false};
    // Set by close when it leaves the session behind.
    std::atomic<bool> abandoned{false};
    Session* nextAbandoned = nullptr;
};

namespace {

// Every abandoned session of the process, kept reachable on purpose: its memory
// may still be written by the driver or by a late thread. Lines on several
// threads (the provisioning workers) may add at once.
std::atomic<Win32Line::Session*> gAbandoned{nullptr};

}  // namespace

void applyLineSettings(DCB& dcb) {
    dcb.BaudRate = CBR_9600;
    dcb.fBinary = TRUE;
    // The line has no handshake: inherited XON/XOFF would eat 0x11 and 0x13 from
    // binary replies and let a received 0x13 stop our transmit.
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fParity = FALSE;
    dcb.fErrorChar = FALSE;
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
    // A stopped write ends and counts as not written, instead of hanging the writer.
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
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
    Session* s = new (std::nothrow) Session;
    if (!s) return fail(kPortOpenFailed);
    s->line = this;
    s->port = port;
    s->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    s->send = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    s->eventEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s->readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s->writeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!s->stop || !s->wake || !s->send || !s->eventEvent || !s->readEvent || !s->writeEvent) {
        closeEvents(*s);
        delete s;
        CloseHandle(port);
        return kPortOpenFailed;
    }
    s->eventRecord.hEvent = s->eventEvent;
    s->readRecord.hEvent = s->readEvent;
    s->writeRecord.hEvent = s->writeEvent;
    handover_.reset();
    lost_.store(false, std::memory_order_relaxed);
    closedWritten_ = false;

    session_ = s;
    s->writer = CreateThread(nullptr, 0, writerEntry, s, 0, nullptr);
    s->reader = s->writer ? CreateThread(nullptr, 0, readerEntry, s, 0, nullptr) : nullptr;
    if (!s->reader) {
        close();  // stops the writer if it started, closes the handle and the events
        return kPortOpenFailed;
    }
    return kPortOpened;
}

void Win32Line::close() {
    Session* s = session_;
    session_ = nullptr;
    if (s) {
        closedWritten_ = s->handedOff != 0 && s->written.load(std::memory_order_acquire) == s->handedOff;
        SetEvent(s->stop);
        // Changing the event mask also ends a pending WaitCommEvent.
        SetCommMask(s->port, 0);
        // Each thread leaves on the stop event, or has already left after a loss.
        bool left = true;
        for (HANDLE thread : {s->writer, s->reader})
            if (thread && WaitForSingleObject(thread, kStopWaitMs) != WAIT_OBJECT_0) left = false;
        if (left && !s->driverKeepsRecord.load(std::memory_order_acquire)) {
            for (HANDLE thread : {s->writer, s->reader})
                if (thread) CloseHandle(thread);
            // Only now, with both threads gone, may the handle go.
            CloseHandle(s->port);
            closeEvents(*s);
            delete s;
        } else {
            // A thread still inside the driver, or a record the driver may yet
            // write: the session stays as it is, handles and memory, for good.
            s->abandoned.store(true, std::memory_order_release);
            s->nextAbandoned = gAbandoned.load(std::memory_order_relaxed);
            while (!gAbandoned.compare_exchange_weak(s->nextAbandoned, s, std::memory_order_release,
                                                     std::memory_order_relaxed)) {
            }
            ++abandoned_;
        }
    }
    lost_.store(false, std::memory_order_release);
}

void Win32Line::closeEvents(Session& s) {
    for (HANDLE* event : {&s.stop, &s.wake, &s.send, &s.eventEvent, &s.readEvent, &s.writeEvent}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
    }
}

bool Win32Line::lastHandOffWritten() const {
    if (!session_) return closedWritten_;
    return session_->handedOff != 0 && session_->written.load(std::memory_order_acquire) == session_->handedOff;
}

void Win32Line::handOff() {
    // While the port is closed there is no writer: the bytes wait in the buffer.
    Session* s = session_;
    if (!s) return;
    {
        // A frame handed off while the previous one is being written waits here
        // and goes out after it; a newer hand-off replaces one not yet taken.
        const std::lock_guard<std::mutex> hold(s->slotLock);
        std::memcpy(s->slot, link_.transmitBuffer, std::size_t{link_.transmitBuffer[0]} + 1);
        s->slotFull = true;
        s->slotNumber = ++s->handedOff;
    }
    SetEvent(s->send);
}

void Win32Line::releaseBurst() {
    // The reader held the burst and left the driver alone: wake it to read on.
    if (handover_.release() && session_) SetEvent(session_->wake);
}

DWORD WINAPI Win32Line::readerEntry(LPVOID session) {
    auto* s = static_cast<Session*>(session);
    s->line->readerLoop(*s);
    return 0;
}

DWORD WINAPI Win32Line::writerEntry(LPVOID session) {
    auto* s = static_cast<Session*>(session);
    s->line->writerLoop(*s);
    return 0;
}

namespace {

bool stopping(HANDLE stop) { return WaitForSingleObject(stop, 0) == WAIT_OBJECT_0; }

}  // namespace

void Win32Line::lose(Session& s) {
    // A failure seen after our own stop is the stop, not a loss.
    if (stopping(s.stop)) return;
    SetEvent(s.stop);
    if (!lost_.exchange(true, std::memory_order_acq_rel)) PostMessageA(main_, kLineLostMessage, 0, 0);
}

void Win32Line::endBurst() {
    if (traceFd_ >= 0) writeTrace(traceFd_, "RX", link_.receiveBuffer, link_.burstLength());
    PostMessageA(main_, kBurstEndedMessage, 0, 0);
}

Win32Line::Probe Win32Line::probe(Session& s, DWORD* queued) {
    DWORD errors = 0;
    COMSTAT status{};
    *queued = 0;
    if (ClearCommError(s.port, &errors, &status)) {
        *queued = status.cbInQue;
        return Probe::present;
    }
    // Some virtual COM drivers refuse the question on a port that works.
    return GetLastError() == ERROR_INVALID_PARAMETER ? Probe::unknown : Probe::gone;
}

bool Win32Line::withdraw(Session& s, OVERLAPPED& record) {
    CancelIo(s.port);
    if (WaitForSingleObject(record.hEvent, kCancelWaitMs) == WAIT_OBJECT_0) return true;
    s.driverKeepsRecord.store(true, std::memory_order_release);
    return false;
}

bool Win32Line::finish(Session& s, OVERLAPPED& record, DWORD limitMs, DWORD* transferred) {
    HANDLE waits[2] = {record.hEvent, s.stop};
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, limitMs);
    if (woken != WAIT_OBJECT_0) {
        withdraw(s, record);
        if (woken != WAIT_OBJECT_0 + 1) lose(s);  // a request kept past its time-outs, or a failed wait
        return false;
    }
    if (GetOverlappedResult(s.port, &record, transferred, FALSE)) return true;
    lose(s);
    return false;
}

// Waits for received characters, the end of the quiet period, a release, the
// next probe or a stop, whichever comes first. Every path blocks before it comes
// round again, and every wake is followed by a look at the line.
void Win32Line::readerLoop(Session& s) {
    bool waiting = false;  // an event wait is outstanding on eventRecord
    bool look = true;      // ask the driver about the line before waiting
    bool timed = false;    // the driver's event waits are of no use: timed reads
    unsigned empty = 0;    // wakes in a row with nothing read
    TimePoint lastLook = SteadyClock::now();
    if (!SetCommMask(s.port, EV_RXCHAR)) timed = true;
    for (;;) {
        TimePoint now = SteadyClock::now();
        if (handover_.endIfQuiet(now)) endBurst();
        // Only a release changes this meanwhile, and it also sets the wake event.
        const bool accepting = handover_.accepting();
        if (look || now - lastLook >= kProbeInterval) {
            look = false;
            lastLook = now;
            DWORD queued = 0;
            const Probe p = probe(s, &queued);
            if (p == Probe::gone) {
                lose(s);
                break;
            }
            if (p == Probe::unknown && !timed) {
                timed = true;
                if (waiting) {
                    waiting = false;
                    if (!withdraw(s, s.eventRecord)) {
                        lose(s);
                        break;
                    }
                }
            }
            // While a burst is held the bytes wait in the driver.
            if (accepting && queued > 0) {
                if (!receive(s, queued)) break;
                empty = 0;
                continue;
            }
        }
        if (accepting && timed) {
            const TimePoint start = SteadyClock::now();
            DWORD got = 0;
            if (!ReadFile(s.port, s.chunk, kTimedReadSize, nullptr, &s.readRecord) &&
                GetLastError() != ERROR_IO_PENDING) {
                lose(s);
                break;
            }
            if (!finish(s, s.readRecord, kReadLimitMs, &got)) break;
            now = SteadyClock::now();
            if (got > 0) {
                handover_.store(s.chunk, got, now);
                empty = 0;
            } else if (now - start < kQuickRead && ++empty >= kEmptyWakeLimit) {
                lose(s);
                break;
            }
            look = true;
            continue;
        }
        if (accepting && !waiting && !timed) {
            s.eventMask = 0;
            if (WaitCommEvent(s.port, &s.eventMask, &s.eventRecord)) {
                // Ended at once: look at the line; a driver that keeps doing this
                // with nothing to read is read with timed reads instead.
                look = true;
                if (++empty >= kEmptyWakeLimit) timed = true;
                continue;
            }
            if (GetLastError() != ERROR_IO_PENDING) {
                lose(s);
                break;
            }
            waiting = true;
        }
        // The rest of the quiet period while a burst is open, else until the next probe.
        int limit = handover_.waitMilliseconds(now);
        const int toProbe = millisecondsUntil(lastLook + kProbeInterval, now);
        if (limit < 0 || limit > toProbe) limit = toProbe;
        HANDLE waits[3] = {s.stop, s.wake, s.eventEvent};
        const DWORD result =
            WaitForMultipleObjects(accepting && waiting ? 3 : 2, waits, FALSE, static_cast<DWORD>(limit));
        if (result == WAIT_TIMEOUT) continue;
        if (result == WAIT_OBJECT_0 + 1) {
            look = true;
            continue;
        }
        if (result == WAIT_OBJECT_0 + 2) {
            waiting = false;
            DWORD unused = 0;
            if (!GetOverlappedResult(s.port, &s.eventRecord, &unused, FALSE)) {
                lose(s);
                break;
            }
            // Whatever the mask says: the look tells bytes from nothing, and a
            // removed device from a working one.
            look = true;
            if (++empty >= kEmptyWakeLimit) timed = true;
            continue;
        }
        if (result != WAIT_OBJECT_0) lose(s);  // the wait itself failed: the stop event is ours
        break;
    }
    if (waiting) withdraw(s, s.eventRecord);
    // A burst cut short still reaches the classifier, as an armed timer would.
    if (!s.abandoned.load(std::memory_order_acquire) && handover_.endNow()) endBurst();
}

bool Win32Line::receive(Session& s, DWORD queued) {
    // Every queued byte is read from the driver; what does not fit the receive
    // buffer is dropped by the hand-over.
    while (queued > 0) {
        const DWORD want = queued < sizeof s.chunk ? queued : static_cast<DWORD>(sizeof s.chunk);
        DWORD got = 0;
        if (!ReadFile(s.port, s.chunk, want, nullptr, &s.readRecord) && GetLastError() != ERROR_IO_PENDING) {
            lose(s);
            return false;
        }
        if (!finish(s, s.readRecord, kReadLimitMs, &got)) return false;
        // Fewer bytes than the driver said (the read's time-outs ended it): wait again.
        if (got == 0) return true;
        handover_.store(s.chunk, got, SteadyClock::now());
        queued -= got < queued ? got : queued;
    }
    return true;
}

// Sleeps until a hand-off (or a stop), then sends what the slot holds, and again
// while hand-offs came during the write.
void Win32Line::writerLoop(Session& s) {
    for (;;) {
        HANDLE waits[2] = {s.stop, s.send};
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (woken != WAIT_OBJECT_0 + 1) {
            if (woken != WAIT_OBJECT_0) lose(s);  // the wait itself failed
            return;
        }
        for (;;) {
            unsigned number = 0;
            {
                const std::lock_guard<std::mutex> hold(s.slotLock);
                if (!s.slotFull) break;
                std::memcpy(s.frame, s.slot, std::size_t{s.slot[0]} + 1);
                s.slotFull = false;
                number = s.slotNumber;
            }
            const DWORD count = s.frame[0];
            if (count == 0) continue;
            const WriteEnd end = writeFrame(s, count);
            if (end == WriteEnd::leave) return;
            if (end == WriteEnd::written) s.written.store(number, std::memory_order_release);
        }
    }
}

Win32Line::WriteEnd Win32Line::writeFrame(Session& s, DWORD count) {
    // The hand-off discards the driver's transmit queue; done here, so that it
    // never cuts a write still in progress.
    PurgeComm(s.port, PURGE_TXCLEAR);
    DWORD done = 0;
    bool ended = true;
    if (!WriteFile(s.port, s.frame + 1, count, nullptr, &s.writeRecord)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            ended = false;
        } else {
            HANDLE waits[2] = {s.writeEvent, s.stop};
            const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, kWriteLimitMs);
            if (woken == WAIT_OBJECT_0 + 1) {
                withdraw(s, s.writeRecord);
                return WriteEnd::leave;
            }
            if (woken == WAIT_TIMEOUT) {
                // The driver ignores the write time-out: take the write back.
                if (!withdraw(s, s.writeRecord)) {
                    lose(s);  // the port can take no other write while the driver keeps this one
                    return WriteEnd::leave;
                }
            } else if (woken != WAIT_OBJECT_0) {
                lose(s);
                return WriteEnd::leave;
            }
        }
    }
    if (ended && !GetOverlappedResult(s.port, &s.writeRecord, &done, FALSE)) ended = false;
    if (traceFd_ >= 0) writeTrace(traceFd_, "TX", s.frame + 1, done);
    if (ended && done == count) return WriteEnd::written;
    // Not written (stopped, timed out or refused): a loss only if the device is gone.
    DWORD queued = 0;
    if (probe(s, &queued) == Probe::gone) {
        lose(s);
        return WriteEnd::leave;
    }
    return WriteEnd::notWritten;
}

}  // namespace ostrakan
