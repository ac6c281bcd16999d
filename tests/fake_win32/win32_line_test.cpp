// The real Win32 serial line (serial/windows/win32_line.cpp) against the scripted
// driver of fake_comm.h: one table of driver behaviours met on Windows machines.
// Threads run for real; every wait is bounded and every check is on counts or
// bytes, never on how long something slept.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fake_comm.h"
#include "serial/windows/win32_line.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
const std::string kPort = "COM7";

struct Rig {
    ostrakan::LinkBuffers link;
    ostrakan::Win32Line line{link};
    unsigned burstsTaken = 0;

    Rig() { line.setMainWindow(reinterpret_cast<HWND>(std::uintptr_t{1})); }
    ~Rig() { line.close(); }

    int open() { return line.open(kPort.c_str()); }
    // A sender's hand-off: the count and the bytes into the transmit buffer.
    void send(const Bytes& frame) {
        link.transmitBuffer[0] = static_cast<std::uint8_t>(frame.size());
        std::memcpy(link.transmitBuffer + 1, frame.data(), frame.size());
        line.handOff();
    }
    // The window's thread on the next ended burst: its bytes, then the release.
    Bytes burst(int limitMs = 2000) {
        const unsigned want = burstsTaken + 1;
        if (!fake::waitUntil([&] { return fake::posted(ostrakan::kBurstEndedMessage) >= want; }, limitMs))
            return {};
        ++burstsTaken;
        if (!line.takeBurstEnd()) return {};
        const Bytes bytes(link.receiveBuffer, link.receiveBuffer + link.burstLength());
        link.receiveLength.store(0);
        link.gapTimerRunning.store(0);
        line.releaseBurst();
        return bytes;
    }
    bool wire(const Bytes& expected, int limitMs = 2000) {
        return fake::waitUntil([&] { return fake::counters(kPort).wire == expected; }, limitMs);
    }
    // The reader has looked at the line and sits in its event wait.
    bool settled() {
        return fake::waitUntil([] { return fake::counters(kPort).waitCommEvent >= 1; }, 2000);
    }
    // Milliseconds until the line says lost, or -1 after `limitMs`.
    long long lostWithin(int limitMs) {
        const auto start = Clock::now();
        // lost() first, then the message to the window's thread.
        if (!fake::waitUntil([&] { return line.lost() && fake::posted(ostrakan::kLineLostMessage) > 0; }, limitMs))
            return -1;
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    }
};

const Bytes kRequest = {0x0A, 0x21, 0xAA, 0x4E, 0x41, 0x00};
const Bytes kReply = {0x0A, 0x21, 0x30, 0x31, 0x30, 0x13, 0x11, 0x00};

void healthy(Rig& r) {
    r.send(kRequest);
    ASSERT_TRUE(r.wire(kRequest));
    ASSERT_TRUE(fake::waitUntil([&] { return r.line.lastHandOffWritten(); }, 1000));
    // Three pieces 50 ms apart are one burst.
    fake::deviceSends(kPort, {0x0A, 0x21, 0x30});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    fake::deviceSends(kPort, {0x31, 0x30});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    fake::deviceSends(kPort, {0x13, 0x11, 0x00});
    EXPECT_EQ(r.burst(), kReply);
    // Idle: the line is looked at about once a second, with no new event waits.
    const fake::Counters before = fake::counters(kPort);
    ASSERT_TRUE(fake::waitUntil(
        [&] { return fake::counters(kPort).clearCommError >= before.clearCommError + 2; }, 3000));
    EXPECT_LE(fake::counters(kPort).waitCommEvent, before.waitCommEvent + 1);
    EXPECT_FALSE(r.line.lost());
}

void removedWaitNeverEnds(Rig& r) {
    ASSERT_TRUE(r.settled());
    fake::unplug(kPort);
    // A click right after: the write never completes either.
    r.send(kRequest);
    const long long ms = r.lostWithin(2000);
    EXPECT_GE(ms, 0) << "not lost within 2 s";
    EXPECT_FALSE(r.line.lastHandOffWritten());
    EXPECT_EQ(fake::posted(ostrakan::kLineLostMessage), 1u);
}

void removedWaitsEndAtOnce(Rig& r) {
    ASSERT_TRUE(r.settled());
    const unsigned before = fake::counters(kPort).waitCommEvent;
    fake::unplug(kPort);
    EXPECT_GE(r.lostWithin(2000), 0);
    EXPECT_EQ(fake::posted(ostrakan::kLineLostMessage), 1u);
    // A spin makes a million waits in half a second.
    EXPECT_LT(fake::counters(kPort).waitCommEvent, before + 20);
}

void writeNeverEnds(Rig& r) {
    r.send(kRequest);
    // The writer takes the write back itself and the port stays usable.
    ASSERT_TRUE(fake::waitUntil([&] { return fake::counters(kPort).cancelIo >= 1; }, 6000));
    EXPECT_TRUE(fake::counters(kPort).wire.empty());
    EXPECT_FALSE(r.line.lastHandOffWritten());
    EXPECT_FALSE(r.line.lost());
    EXPECT_TRUE(r.line.isOpen());
}

void clearCommError87(Rig& r) {
    ASSERT_TRUE(fake::waitUntil([&] { return fake::counters(kPort).clearCommError >= 3; }, 3000));
    EXPECT_FALSE(r.line.lost());
    fake::deviceSends(kPort, kReply);
    EXPECT_EQ(r.burst(), kReply);
    r.send(kRequest);
    EXPECT_TRUE(r.wire(kRequest));
    EXPECT_TRUE(fake::waitUntil([&] { return r.line.lastHandOffWritten(); }, 1000));
}

void dirtyDcb(Rig& r) {
    const fake::Counters c = fake::counters(kPort);
    const DCB& d = c.lastState;
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, NOPARITY);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_EQ(d.fBinary, 1u);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_DISABLE);
    for (const DWORD flag : {DWORD{d.fParity}, DWORD{d.fOutxCtsFlow}, DWORD{d.fOutxDsrFlow},
                             DWORD{d.fDsrSensitivity}, DWORD{d.fOutX}, DWORD{d.fInX}, DWORD{d.fErrorChar},
                             DWORD{d.fNull}, DWORD{d.fAbortOnError}})
        EXPECT_EQ(flag, 0u);
    // Write time-outs: a constant that a 255-byte write at 9600 baud never reaches.
    EXPECT_EQ(c.lastTimeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_GE(c.lastTimeouts.WriteTotalTimeoutConstant, 1000u);
    EXPECT_LE(c.lastTimeouts.WriteTotalTimeoutConstant, 3000u);
    EXPECT_EQ(c.lastTimeouts.ReadIntervalTimeout, 200u);
    // A reply holding XOFF and XON arrives whole, and does not stop our transmit.
    fake::deviceSends(kPort, kReply);
    EXPECT_EQ(r.burst(), kReply);
    r.send(kRequest);
    EXPECT_TRUE(r.wire(kRequest, 1000));
}

void handOffDuringWrite(Rig& r) {
    const Bytes second = {0x0A, 0x22, 0xAA, 0x4E, 0x42, 0x00};
    r.send(kRequest);
    ASSERT_TRUE(fake::waitUntil([&] { return fake::counters(kPort).writeFile >= 1; }, 1000));
    r.send(second);
    EXPECT_FALSE(r.line.lastHandOffWritten());
    fake::releaseWrites(kPort);
    Bytes both = kRequest;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_TRUE(r.wire(both));
    EXPECT_TRUE(fake::waitUntil([&] { return r.line.lastHandOffWritten(); }, 1000));
}

void reopenAfterLoss(Rig& r) {
    ASSERT_TRUE(r.settled());
    fake::unplug(kPort);
    ASSERT_GE(r.lostWithin(2000), 0);
    r.line.close();  // what the window's thread does on the loss
    r.send({0x0A, 0x99});  // a click while lost: the port is closed, nothing goes
    fake::plug(kPort, {fake::Removal::waitNeverEnds, false, false, false, false, false, fake::plainDcb()});
    ASSERT_EQ(r.open(), ostrakan::kPortOpened);
    EXPECT_FALSE(r.line.lost());
    r.send(kRequest);
    EXPECT_TRUE(r.wire(kRequest));
    EXPECT_TRUE(fake::waitUntil([&] { return r.line.lastHandOffWritten(); }, 1000));
    fake::deviceSends(kPort, kReply);
    EXPECT_EQ(r.burst(), kReply);
}

void waitsEndAtOnce(Rig& r) {
    ASSERT_TRUE(fake::waitUntil([&] { return fake::counters(kPort).waitCommEvent >= 16; }, 2000));
    fake::deviceSends(kPort, kReply);
    EXPECT_EQ(r.burst(), kReply);
    // Timed reads now: no more event waits, and no spin of reads either.
    const fake::Counters before = fake::counters(kPort);
    ASSERT_TRUE(fake::waitUntil([&] { return fake::counters(kPort).readFile >= before.readFile + 3; }, 3000));
    const fake::Counters after = fake::counters(kPort);
    EXPECT_EQ(after.waitCommEvent, before.waitCommEvent);
    EXPECT_LE(after.readFile, before.readFile + 10);
    EXPECT_FALSE(r.line.lost());
}

void cancelNeverLands(Rig& r) {
    r.send(kRequest);
    EXPECT_GE(r.lostWithin(8000), 0);
    r.line.close();
    EXPECT_EQ(r.line.abandonedSessions(), 1u);
    fake::landCancels(kPort);
}

struct Case {
    const char* name;
    fake::Driver driver;
    void (*run)(Rig&);
};

fake::Driver driver(fake::Removal removal) {
    fake::Driver d;
    d.removal = removal;
    d.initial = fake::plainDcb();
    return d;
}

// Every flag set and odd settings, as a terminal program with XON/XOFF, parity
// and an error character may leave the port.
DCB everyFlagSet() {
    DCB d = fake::plainDcb();
    d.BaudRate = 1200;
    d.fParity = d.fOutxCtsFlow = d.fOutxDsrFlow = d.fDsrSensitivity = 1;
    d.fTXContinueOnXoff = d.fOutX = d.fInX = d.fErrorChar = d.fNull = d.fAbortOnError = 1;
    d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.ByteSize = 7;
    d.Parity = EVENPARITY;
    d.StopBits = TWOSTOPBITS;
    d.ErrorChar = '?';
    return d;
}

std::vector<Case> cases() {
    std::vector<Case> all;
    // serial.sys, FTDI: requests complete as documented, a reply comes in pieces.
    all.push_back({"Healthy", driver(fake::Removal::waitNeverEnds), healthy});
    // CH340, and the built-in CDC driver (usbser) on Windows 7: after a removal
    // the pending wait never ends, and neither does a write.
    all.push_back({"RemovedWaitNeverEnds", driver(fake::Removal::waitNeverEnds), removedWaitNeverEnds});
    // Drivers whose pending wait keeps completing, with an empty mask, after a removal.
    all.push_back({"RemovedWaitsEndAtOnce", driver(fake::Removal::waitsEndAtOnce), removedWaitsEndAtOnce});
    // Bluetooth serial ports and some USB bridges ignore the write time-out.
    Case stuck{"WriteNeverEnds", driver(fake::Removal::waitNeverEnds), writeNeverEnds};
    stuck.driver.writesNeverEnd = true;
    all.push_back(stuck);
    // Some virtual COM drivers refuse ClearCommError with 87 on a working port.
    Case refuses{"ClearCommError87", driver(fake::Removal::waitNeverEnds), clearCommError87};
    refuses.driver.clearCommErrorFails87 = true;
    all.push_back(refuses);
    // Any driver: the last program left XON/XOFF, parity and the error character on.
    Case dirty{"DcbEveryFlagSet", driver(fake::Removal::waitNeverEnds), dirtyDcb};
    dirty.driver.initial = everyFlagSet();
    all.push_back(dirty);
    // Any driver on a slow line: the next frame is handed off while one is written.
    Case slow{"HandOffDuringWrite", driver(fake::Removal::waitNeverEnds), handOffDuringWrite};
    slow.driver.writesHeld = true;
    all.push_back(slow);
    // The CH340 pulled and plugged back in under the same COM name.
    all.push_back({"ReopenAfterLoss", driver(fake::Removal::waitNeverEnds), reopenAfterLoss});
    // Some virtual COM drivers end every event wait at once on a working port.
    Case eager{"WaitsEndAtOnce", driver(fake::Removal::waitNeverEnds), waitsEndAtOnce};
    eager.driver.waitsEndAtOnce = true;
    all.push_back(eager);
    // A driver that keeps a cancelled write for good.
    Case keeps{"CancelNeverLands", driver(fake::Removal::waitNeverEnds), cancelNeverLands};
    keeps.driver.writesNeverEnd = true;
    keeps.driver.cancelNeverLands = true;
    all.push_back(keeps);
    return all;
}

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class DriverBehaviour : public testing::TestWithParam<Case> {};

TEST_P(DriverBehaviour, HandledWithoutSpinHangOrFalseWrite) {
    fake::reset();
    fake::plug(kPort, GetParam().driver);
    {
        Rig r;
        ASSERT_EQ(r.open(), ostrakan::kPortOpened);
        GetParam().run(r);
        r.line.close();
        EXPECT_FALSE(r.line.isOpen());
        EXPECT_FALSE(r.line.lost());
    }
    // Threads end by their stop event only, and no handle is used after its close.
    EXPECT_TRUE(fake::waitUntil([] { return fake::runningThreads() == 0; }, 5000));
    EXPECT_EQ(fake::badHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Win32Line, DriverBehaviour, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
