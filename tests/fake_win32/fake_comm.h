// The script side of the fake comm API: plug a device with a driver's ways under
// a COM name, send bytes from it, pull it, and look at what the program did.
// Every call is thread-safe; the program's threads run for real.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fake {

// What a removed device's driver does with requests (documented behaviours of
// real drivers after a surprise removal).
enum class Removal {
    // Pending and new event waits never complete; reads and ClearCommError fail,
    // writes are left pending until cancelled.
    waitNeverEnds,
    // Every event wait completes at once, successfully, with an empty mask;
    // ClearCommError, reads and writes fail.
    waitsEndAtOnce,
};

struct Driver {
    Removal removal = Removal::waitNeverEnds;
    // ClearCommError fails with ERROR_INVALID_PARAMETER on a working port.
    bool clearCommErrorFails87 = false;
    // Every event wait completes at once with an empty mask on a working port.
    bool waitsEndAtOnce = false;
    // Writes stay pending, whatever the write time-outs, until cancelled.
    bool writesNeverEnd = false;
    // Writes stay pending until releaseWrites() (a slow line, seen from the program).
    bool writesHeld = false;
    // CancelIo returns, but the cancelled requests never complete.
    bool cancelNeverLands = false;
    // What GetCommState reports before the program changes anything.
    DCB initial{};
};

// A DCB as a terminal program leaves it: 9600 8N1 with no flag set.
DCB plainDcb();

struct Counters {
    unsigned waitCommEvent = 0;
    unsigned clearCommError = 0;
    unsigned readFile = 0;
    unsigned writeFile = 0;
    unsigned cancelIo = 0;
    unsigned setCommState = 0;
    DCB lastState{};
    COMMTIMEOUTS lastTimeouts{};
    std::vector<std::uint8_t> wire;  // every byte the driver sent on the line
};

// Forgets every device, handle and posted message. Call between cases, once no
// thread of the program runs any more.
void reset();
// A device appears under `name` ("COM7"); a device already there is replaced
// (re-plugging: the old handle keeps talking to the old, removed device).
void plug(const std::string& name, const Driver& driver);
// The device under `name` is pulled; it behaves as its driver's removal says.
void unplug(const std::string& name);
// The device sends these bytes to the program.
void deviceSends(const std::string& name, const std::vector<std::uint8_t>& bytes);
// Held writes complete in full.
void releaseWrites(const std::string& name);
// Requests whose cancel never landed complete after all (lets abandoned threads go).
void landCancels(const std::string& name);
// Of the newest device plugged under `name`, pulled or not.
Counters counters(const std::string& name);
// Messages posted with this number so far.
unsigned posted(UINT message);
// Handles used after they were closed, or never made.
unsigned badHandles();
// Threads made with CreateThread that have not returned yet.
unsigned runningThreads();
// Waits until `done` holds (checked whenever the fake's state changes), at most
// `limitMs`; true if it held.
bool waitUntil(const std::function<bool()>& done, int limitMs);

}  // namespace fake
