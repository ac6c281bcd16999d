// The fake comm API: events, threads and one scripted serial driver per COM
// name, all behind one lock, with real threads waiting on a condition variable.
// Each call follows its documented Win32 behaviour:
//  - an overlapped request that cannot finish at once returns FALSE with
//    ERROR_IO_PENDING and resets its record's event; finishing sets the event;
//  - GetOverlappedResult without waiting gives ERROR_IO_INCOMPLETE while pending;
//  - WaitCommEvent completes at once when an event of the mask happened since
//    the last wait; a second wait while one is pending fails with 87;
//  - SetCommMask ends a pending WaitCommEvent, with an empty mask;
//  - CancelIo ends the calling thread's requests on the handle with
//    ERROR_OPERATION_ABORTED; CloseHandle ends all of them;
//  - a read completes when the count is reached, when the interval time-out
//    passes after a byte, or at the total time-out (a success with fewer bytes:
//    STATUS_TIMEOUT is a success status); a write stopped by XOFF completes at its
//    total time-out with what went out; a zero time-out means none;
//  - with fOutX set, received XON/XOFF characters are taken by the driver and
//    stop or restart the transmitter;
//  - a device pulled from under an open handle fails calls with ERROR_BAD_COMMAND.
#include "fake_comm.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr ULONG_PTR kPending = 0x103;  // STATUS_PENDING
constexpr DWORD kMaxDword = 0xFFFFFFFFu;

struct Object {
    enum Kind { event, thread, port } kind;
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    bool closed = false;
};
struct Event : Object {
    Event() : Object(event) {}
    bool manual = true;
    bool set = false;
};
struct Thread : Object {
    Thread() : Object(thread) {}
    bool done = false;
};
struct Request {
    OVERLAPPED* ov = nullptr;
    std::thread::id owner;
    bool kept = false;  // cancelled, but the driver never gives it back
    explicit operator bool() const { return ov != nullptr; }
};
struct Device {
    std::string name;
    fake::Driver driver;
    bool present = true;
    bool open = false;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    DWORD mask = 0;
    DWORD history = 0;
    std::deque<std::uint8_t> rx;
    bool xoff = false;
    Request wait;
    DWORD* waitMask = nullptr;
    Request read;
    std::uint8_t* readBuffer = nullptr;
    DWORD readSize = 0;
    DWORD readGot = 0;
    bool readTimed = false;
    Clock::time_point readDeadline, lastByte;
    Request write;
    std::vector<std::uint8_t> writeBytes;
    bool writeTimed = false;
    Clock::time_point writeDeadline;
    fake::Counters counters;
};
struct Port : Object {
    Port() : Object(port) {}
    std::shared_ptr<Device> device;
};

struct State {
    std::mutex m;
    std::condition_variable cv;
    unsigned long generation = 0;
    std::map<HANDLE, std::shared_ptr<Object>> handles;
    std::uintptr_t nextHandle = 0x1000;
    std::map<std::string, std::shared_ptr<Device>> devices;
    std::vector<std::shared_ptr<Device>> everyDevice;  // the driver's clock looks at all, pulled ones too
    std::map<UINT, unsigned> posted;
    unsigned bad = 0;
    unsigned running = 0;  // threads made and not yet returned
    bool clockRunning = false;
};

// Never destroyed: detached threads (the driver's clock) may outlive main.
State& g() {
    static State* s = new State;
    return *s;
}

thread_local DWORD tLastError = 0;

void changed() {
    ++g().generation;
    g().cv.notify_all();
}

BOOL failWith(DWORD code) {
    tLastError = code;
    return FALSE;
}

HANDLE add(std::shared_ptr<Object> object) {
    HANDLE h = reinterpret_cast<HANDLE>(g().nextHandle);
    g().nextHandle += 4;
    g().handles[h] = std::move(object);
    return h;
}

Object* find(HANDLE h) {
    const auto it = g().handles.find(h);
    if (it == g().handles.end() || it->second->closed) {
        ++g().bad;
        tLastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return it->second.get();
}

Device* deviceOf(HANDLE h) {
    Object* o = find(h);
    if (!o || o->kind != Object::port) return nullptr;
    return static_cast<Port*>(o)->device.get();
}

void setEventLocked(HANDLE h) {
    // The kernel holds the event for the request: a closed handle is no misuse here.
    const auto it = g().handles.find(h);
    if (it != g().handles.end() && it->second->kind == Object::event) static_cast<Event*>(it->second.get())->set = true;
}

void start(Request& r, OVERLAPPED* ov) {
    r.ov = ov;
    r.owner = std::this_thread::get_id();
    r.kept = false;
    ov->Internal = kPending;
    ov->InternalHigh = 0;
    const auto it = g().handles.find(ov->hEvent);
    if (it != g().handles.end() && it->second->kind == Object::event) static_cast<Event*>(it->second.get())->set = false;
}

void complete(Request& r, DWORD status, DWORD bytes) {
    if (!r) return;
    r.ov->Internal = status;
    r.ov->InternalHigh = bytes;
    setEventLocked(r.ov->hEvent);
    r.ov = nullptr;
    r.kept = false;
    changed();
}

void completeWait(Device& d, DWORD events, DWORD status = ERROR_SUCCESS) {
    if (!d.wait || d.wait.kept) return;
    if (d.waitMask) *d.waitMask = events;
    complete(d.wait, status, 0);
}

void sendToWire(Device& d) {
    d.counters.wire.insert(d.counters.wire.end(), d.writeBytes.begin(), d.writeBytes.end());
    complete(d.write, ERROR_SUCCESS, static_cast<DWORD>(d.writeBytes.size()));
}

bool writeStalls(const Device& d) {
    return d.driver.writesNeverEnd || d.driver.writesHeld || d.xoff || !d.present;
}

// The driver's clock: ends reads and writes at their time-outs.
void clockLoop() {
    std::unique_lock<std::mutex> lock(g().m);
    for (;;) {
        const Clock::time_point now = Clock::now();
        Clock::time_point next = now + std::chrono::hours(1);
        for (const auto& dp : g().everyDevice) {
            Device& d = *dp;
            if (d.read && !d.read.kept && d.readTimed) {
                Clock::time_point due = d.readDeadline;
                if (d.readGot > 0 && d.timeouts.ReadIntervalTimeout > 0 &&
                    d.timeouts.ReadIntervalTimeout != kMaxDword)
                    due = std::min(due, d.lastByte + std::chrono::milliseconds(d.timeouts.ReadIntervalTimeout));
                if (due <= now)
                    complete(d.read, ERROR_SUCCESS, d.readGot);
                else
                    next = std::min(next, due);
            }
            if (d.write && !d.write.kept && d.writeTimed && d.present && !d.driver.writesNeverEnd) {
                if (d.writeDeadline <= now)
                    complete(d.write, ERROR_SUCCESS, 0);  // timed out: nothing went out
                else
                    next = std::min(next, d.writeDeadline);
            }
        }
        g().cv.wait_until(lock, next);
    }
}

std::shared_ptr<Device> named(const std::string& name) {
    const auto it = g().devices.find(name);
    return it == g().devices.end() ? nullptr : it->second;
}

}  // namespace

// ---- Win32 ---------------------------------------------------------------------

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD code) { tLastError = code; }

HANDLE CreateEventA(SECURITY_ATTRIBUTES*, BOOL manualReset, BOOL initialState, const char*) {
    const std::lock_guard<std::mutex> lock(g().m);
    auto e = std::make_shared<Event>();
    e->manual = manualReset != FALSE;
    e->set = initialState != FALSE;
    return add(e);
}

BOOL SetEvent(HANDLE h) {
    const std::lock_guard<std::mutex> lock(g().m);
    Object* o = find(h);
    if (!o || o->kind != Object::event) return FALSE;
    static_cast<Event*>(o)->set = true;
    changed();
    return TRUE;
}

BOOL ResetEvent(HANDLE h) {
    const std::lock_guard<std::mutex> lock(g().m);
    Object* o = find(h);
    if (!o || o->kind != Object::event) return FALSE;
    static_cast<Event*>(o)->set = false;
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL, DWORD ms) {
    std::unique_lock<std::mutex> lock(g().m);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms == INFINITE ? 0 : ms);
    for (;;) {
        for (DWORD i = 0; i < count; ++i) {
            Object* o = find(objects[i]);
            if (!o) return WAIT_FAILED;
            if (o->kind == Object::event) {
                auto* e = static_cast<Event*>(o);
                if (e->set) {
                    if (!e->manual) e->set = false;
                    return WAIT_OBJECT_0 + i;
                }
            } else if (o->kind == Object::thread && static_cast<Thread*>(o)->done) {
                return WAIT_OBJECT_0 + i;
            }
        }
        if (ms == INFINITE) {
            g().cv.wait(lock);
            continue;
        }
        // The objects were looked at once more after the last wake.
        if (Clock::now() >= deadline) return WAIT_TIMEOUT;
        g().cv.wait_until(lock, deadline);
    }
}

DWORD WaitForSingleObject(HANDLE object, DWORD ms) { return WaitForMultipleObjects(1, &object, FALSE, ms); }

HANDLE CreateThread(SECURITY_ATTRIBUTES*, std::size_t, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD,
                    DWORD*) {
    auto t = std::make_shared<Thread>();
    HANDLE h;
    {
        const std::lock_guard<std::mutex> lock(g().m);
        h = add(t);
        ++g().running;
    }
    std::thread([t, start, parameter] {
        start(parameter);
        const std::lock_guard<std::mutex> lock(g().m);
        t->done = true;
        --g().running;
        changed();
    }).detach();
    return h;
}

BOOL PostMessageA(HWND, UINT message, WPARAM, LPARAM) {
    const std::lock_guard<std::mutex> lock(g().m);
    ++g().posted[message];
    changed();
    return TRUE;
}

HANDLE CreateFileA(const char* name, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE) {
    const std::lock_guard<std::mutex> lock(g().m);
    std::string com = name;
    if (com.compare(0, 4, "\\\\.\\") == 0) com = com.substr(4);
    const std::shared_ptr<Device> d = named(com);
    if (!d) {
        tLastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (d->open) {  // no sharing: one handle at a time
        tLastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    d->open = true;
    auto p = std::make_shared<Port>();
    p->device = d;
    return add(p);
}

BOOL CloseHandle(HANDLE h) {
    const std::lock_guard<std::mutex> lock(g().m);
    Object* o = find(h);
    if (!o) return FALSE;
    o->closed = true;
    if (o->kind == Object::port) {
        Device& d = *static_cast<Port*>(o)->device;
        d.open = false;
        // The handle's last close ends whatever is still pending on it.
        if (!d.driver.cancelNeverLands) {
            if (d.wait && d.waitMask) *d.waitMask = 0;
            complete(d.wait, ERROR_OPERATION_ABORTED, 0);
            complete(d.read, ERROR_OPERATION_ABORTED, d.readGot);
            complete(d.write, ERROR_OPERATION_ABORTED, 0);
        }
    }
    changed();
    return TRUE;
}

BOOL GetCommState(HANDLE h, DCB* dcb) {
    const std::lock_guard<std::mutex> lock(g().m);
    Device* d = deviceOf(h);
    if (!d) return FALSE;
    if (!d->present) return failWith(ERROR_BAD_COMMAND);
    *dcb = d->dcb;
    return TRUE;
}

BOOL SetCommState(HANDLE h, DCB* dcb) {
    const std::lock_guard<std::mutex> lock(g().m);
    Device* d = deviceOf(h);
    if (!d) return FALSE;
    if (!d->present) return failWith(ERROR_BAD_COMMAND);
    d->dcb = *dcb;
    ++d->counters.setCommState;
    d->counters.lastState = *dcb;
    if (!dcb->fOutX && d->xoff) {
        d->xoff = false;
        if (d->write && !writeStalls(*d)) sendToWire(*d);
    }
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* timeouts) {
    const std::lock_guard<std::mutex> lock(g().m);
    Device* d = deviceOf(h);
    if (!d) return FALSE;
    if (!d->present) return failWith(ERROR_BAD_COMMAND);
    d->timeouts = *timeouts;
    d->counters.lastTimeouts = *timeouts;
    return TRUE;
}

BOOL SetupComm(HANDLE h, DWORD, DWORD) {
    const std::lock_guard<std::mutex> lock(g().m);
    Device* d = deviceOf(h);
    if (!d) return FALSE;
    return d->present ? TRUE : failWith(ERROR_BAD_COMMAND);
}

BOOL PurgeComm(HANDLE h, DWORD flags) {
    const std::lock_guard<std::mutex> lock(g().m);
    Device* d = deviceOf(h);
    if (!d) return FALSE;
    if (!d->present) return failWith(ERROR_BAD_COMMAND);
    if (flags & PURGE_RXCLEAR) d->rx.clear();
    // TXCLEAR empties the driver's buffer (the fake has none: a written byte is
    // on the line); only TXABORT ends a pending write.
    if (flags & PURGE_TXABORT) complete(d->write, ERROR_OPERATION_ABORTED, 0);
    return TRUE;
}

BOOL SetCommMask(HANDLE h, DWORD mask) {
    const std::lock_guard<std::mutex> lock(g().m);
    Device* d = deviceOf(h);
    if (!d) return FALSE;
    if (!d->present) {
        if (d->driver.removal == fake::Removal::waitNeverEnds) return failWith(ERROR_BAD_COMMAND);
        completeWait(*d, 0);
        return TRUE;
    }
    completeWait(*d, 0);
    d->mask = mask;
    d->history = 0;
    return TRUE;
}

BOOL WaitCommEvent(HANDLE h, DWORD* mask, OVERLAPPED* ov) {
    const std::lock_guard<std::mutex> lock(g().m);
    Device* d = deviceOf(h);
    if (!d) return FALSE;
    ++d->counters.waitCommEvent;
    changed();
    if (d->wait) return failWith(ERROR_INVALID_PARAMETER);
    start(d->wait, ov);
    d->waitMask = mask;
    if (!d->present) {
        // waitNeverEnds: stays pending. waitsEndAtOnce: ends as soon as it is made.
        if (d->driver.removal == fake::Removal::waitsEndAtOnce) completeWait(*d, 0);
        return failWith(ERROR_IO_PENDING);
    }
    if (d->driver.waitsEndAtOnce) {
        completeWait(*d, 0);
        return TRUE;
    }
    if (d->mask == 0) {
        d->wait = Request{};
        return failWith(ERROR_INVALID_PARAMETER);
    }
    if (d->history & d->mask) {
        completeWait(*d, d->history & d->mask);
        d->history = 0;
        return TRUE;
    }
    return failWith(ERROR_IO_PENDING);
}

BOOL ClearCommError(HANDLE h, DWORD* errors, COMSTAT* status) {
    const std::lock_guard<std::mutex> lock(g().m);
    Device* d = deviceOf(h);
    if (!d) return FALSE;
    ++d->counters.clearCommError;
    changed();
    if (!d->present) return failWith(ERROR_BAD_COMMAND);
    if (d->driver.clearCommErrorFails87) return failWith(ERROR_INVALID_PARAMETER);
    if (errors) *errors = 0;
    if (status) {
        *status = COMSTAT{};
        status->cbInQue = static_cast<DWORD>(d->rx.size());
        status->cbOutQue = d->write ? static_cast<DWORD>(d->writeBytes.size()) : 0;
    }
    return TRUE;
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD size, DWORD* read, OVERLAPPED* ov) {
    const std::lock_guard<std::mutex> lock(g().m);
    Device* d = deviceOf(h);
    if (!d) return FALSE;
    ++d->counters.readFile;
    changed();
    if (!d->present) return failWith(ERROR_BAD_COMMAND);
    if (d->read) return failWith(ERROR_INVALID_PARAMETER);
    start(d->read, ov);
    d->readBuffer = static_cast<std::uint8_t*>(buffer);
    d->readSize = size;
    d->readGot = 0;
    while (d->readGot < size && !d->rx.empty()) {
        d->readBuffer[d->readGot++] = d->rx.front();
        d->rx.pop_front();
    }
    const COMMTIMEOUTS& t = d->timeouts;
    const bool returnAtOnce = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                              t.ReadTotalTimeoutConstant == 0;
    if (d->readGot == size || returnAtOnce) {
        if (read) *read = d->readGot;
        complete(d->read, ERROR_SUCCESS, d->readGot);
        return TRUE;
    }
    const DWORD total = t.ReadTotalTimeoutMultiplier * size + t.ReadTotalTimeoutConstant;
    d->readTimed = total > 0 || t.ReadIntervalTimeout > 0;
    d->readDeadline = total > 0 ? Clock::now() + std::chrono::milliseconds(total) : Clock::time_point::max();
    d->lastByte = Clock::now();
    return failWith(ERROR_IO_PENDING);
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD size, DWORD* written, OVERLAPPED* ov) {
    const std::lock_guard<std::mutex> lock(g().m);
    Device* d = deviceOf(h);
    if (!d) return FALSE;
    ++d->counters.writeFile;
    changed();
    if (!d->present && d->driver.removal == fake::Removal::waitsEndAtOnce) return failWith(ERROR_BAD_COMMAND);
    if (d->write) return failWith(ERROR_INVALID_PARAMETER);
    start(d->write, ov);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    d->writeBytes.assign(bytes, bytes + size);
    if (!writeStalls(*d)) {
        if (written) *written = size;
        sendToWire(*d);
        return TRUE;
    }
    const DWORD total = d->timeouts.WriteTotalTimeoutMultiplier * size + d->timeouts.WriteTotalTimeoutConstant;
    d->writeTimed = total > 0;
    d->writeDeadline = Clock::now() + std::chrono::milliseconds(total);
    return failWith(ERROR_IO_PENDING);
}

BOOL GetOverlappedResult(HANDLE h, OVERLAPPED* ov, DWORD* transferred, BOOL wait) {
    std::unique_lock<std::mutex> lock(g().m);
    if (!deviceOf(h)) return FALSE;
    while (ov->Internal == kPending) {
        if (!wait) return failWith(ERROR_IO_INCOMPLETE);
        g().cv.wait(lock);
    }
    *transferred = static_cast<DWORD>(ov->InternalHigh);
    if (ov->Internal == ERROR_SUCCESS) return TRUE;
    return failWith(static_cast<DWORD>(ov->Internal));
}

BOOL CancelIo(HANDLE h) {
    const std::lock_guard<std::mutex> lock(g().m);
    Device* d = deviceOf(h);
    if (!d) return FALSE;
    ++d->counters.cancelIo;
    changed();
    const std::thread::id me = std::this_thread::get_id();
    for (Request* r : {&d->wait, &d->read, &d->write}) {
        if (!*r || r->owner != me) continue;
        if (d->driver.cancelNeverLands) {
            r->kept = true;
            continue;
        }
        if (r == &d->wait && d->waitMask) *d->waitMask = 0;
        complete(*r, ERROR_OPERATION_ABORTED, r == &d->read ? d->readGot : 0);
    }
    return TRUE;
}

// ---- the script ------------------------------------------------------------------

namespace fake {

DCB plainDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = CBR_9600;
    dcb.fBinary = TRUE;
    dcb.ByteSize = 8;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

void reset() {
    const std::lock_guard<std::mutex> lock(g().m);
    g().devices.clear();
    g().everyDevice.clear();
    g().posted.clear();
    g().bad = 0;
    if (!g().clockRunning) {
        g().clockRunning = true;
        std::thread(clockLoop).detach();
    }
    changed();
}

void plug(const std::string& name, const Driver& driver) {
    const std::lock_guard<std::mutex> lock(g().m);
    auto d = std::make_shared<Device>();
    d->name = name;
    d->driver = driver;
    d->dcb = driver.initial;
    d->dcb.DCBlength = sizeof d->dcb;
    g().devices[name] = d;
    g().everyDevice.push_back(d);
    changed();
}

void unplug(const std::string& name) {
    const std::lock_guard<std::mutex> lock(g().m);
    const std::shared_ptr<Device> d = named(name);
    if (!d) return;
    g().devices.erase(name);
    d->present = false;
    if (d->driver.removal == Removal::waitsEndAtOnce) {
        completeWait(*d, 0);
        complete(d->write, ERROR_BAD_COMMAND, 0);
    }
    if (!d->read.kept) complete(d->read, ERROR_BAD_COMMAND, d->readGot);
    changed();
}

void deviceSends(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::lock_guard<std::mutex> lock(g().m);
    const std::shared_ptr<Device> d = named(name);
    if (!d) return;
    for (const std::uint8_t b : bytes) {
        if (d->dcb.fOutX && (b == static_cast<std::uint8_t>(d->dcb.XoffChar) ||
                             b == static_cast<std::uint8_t>(d->dcb.XonChar))) {
            d->xoff = b == static_cast<std::uint8_t>(d->dcb.XoffChar);
            if (d->write && !writeStalls(*d)) sendToWire(*d);
            continue;
        }
        if (d->read && !d->read.kept) {
            d->readBuffer[d->readGot++] = b;
            d->lastByte = Clock::now();
            if (d->readGot == d->readSize) complete(d->read, ERROR_SUCCESS, d->readGot);
        } else {
            d->rx.push_back(b);
        }
        if (d->mask & EV_RXCHAR) {
            d->history |= EV_RXCHAR;
            if (d->wait && !d->wait.kept) {
                completeWait(*d, EV_RXCHAR);
                d->history = 0;
            }
        }
    }
    changed();
}

void releaseWrites(const std::string& name) {
    const std::lock_guard<std::mutex> lock(g().m);
    const std::shared_ptr<Device> d = named(name);
    if (!d) return;
    d->driver.writesHeld = false;
    if (d->write && !d->write.kept && !writeStalls(*d)) sendToWire(*d);
    changed();
}

void landCancels(const std::string&) {
    const std::lock_guard<std::mutex> lock(g().m);
    for (const auto& d : g().everyDevice) {
        for (Request* r : {&d->wait, &d->read, &d->write}) {
            if (!r->kept) continue;
            r->kept = false;
            complete(*r, ERROR_OPERATION_ABORTED, 0);
        }
    }
    changed();
}

Counters counters(const std::string& name) {
    const std::lock_guard<std::mutex> lock(g().m);
    // The newest device of that name, pulled or not.
    for (auto it = g().everyDevice.rbegin(); it != g().everyDevice.rend(); ++it)
        if ((*it)->name == name) return (*it)->counters;
    return Counters{};
}

unsigned posted(UINT message) {
    const std::lock_guard<std::mutex> lock(g().m);
    return g().posted[message];
}

unsigned badHandles() {
    const std::lock_guard<std::mutex> lock(g().m);
    return g().bad;
}

unsigned runningThreads() {
    const std::lock_guard<std::mutex> lock(g().m);
    return g().running;
}

bool waitUntil(const std::function<bool()>& done, int limitMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        unsigned long seen;
        {
            const std::lock_guard<std::mutex> lock(g().m);
            seen = g().generation;
        }
        if (done()) return true;
        std::unique_lock<std::mutex> lock(g().m);
        if (Clock::now() >= deadline) return false;
        // Woken by any change; a short bound too, for what changes outside the fake.
        g().cv.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(20)),
                          [&] { return g().generation != seen; });
    }
}

}  // namespace fake
