// The host loop and the timers of the POSIX back-end, driven by made-up instants.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/core.h"
#include "app/headless_window.h"
#include "app/reply_flags.h"
#include "app/unix/host_loop.h"
#include "resources/resource.h"
#include "app/tick_schedule.h"
#include "serial/quiet_timer.h"

namespace ostrakan {
namespace {

using std::chrono::milliseconds;

TEST(QuietTimerTest, ExpiresOnceAfterTheQuietPeriodAndRestartsOnEveryChunk) {
    const TimePoint t0{};
    QuietTimer timer{milliseconds(200)};
    EXPECT_EQ(timer.pollTimeout(t0), -1);
    EXPECT_FALSE(timer.expire(t0 + milliseconds(500)));
    timer.restart(t0);
    EXPECT_EQ(timer.pollTimeout(t0 + milliseconds(50)), 150);
    EXPECT_FALSE(timer.expire(t0 + milliseconds(199)));
    timer.restart(t0 + milliseconds(150));  // a second chunk
    EXPECT_FALSE(timer.expire(t0 + milliseconds(349)));
    EXPECT_TRUE(timer.expire(t0 + milliseconds(350)));
    EXPECT_FALSE(timer.expire(t0 + milliseconds(351)));
    EXPECT_FALSE(timer.running());
}

TEST(QuietTimerTest, PollTimeoutRoundsUpSoTheWaitNeverEndsEarly) {
    const TimePoint t0{};
    EXPECT_EQ(millisecondsUntil(t0 + std::chrono::microseconds(1500), t0), 2);
    EXPECT_EQ(millisecondsUntil(t0, t0 + milliseconds(3)), 0);
}

TEST(TickScheduleTest, TicksEvery54MillisecondsAndDeliversALateTickOnce) {
    const TimePoint t0{};
    TickSchedule s(milliseconds(54), t0);
    EXPECT_FALSE(s.due(t0 + milliseconds(53)));
    EXPECT_EQ(s.pollTimeout(t0 + milliseconds(50)), 4);
    EXPECT_TRUE(s.due(t0 + milliseconds(54)));
    s.advance(t0 + milliseconds(55));
    EXPECT_EQ(s.next(), t0 + milliseconds(108));  // no drift from a late wake-up
    // Half a second late: one tick, the next a full period later.
    EXPECT_TRUE(s.due(t0 + milliseconds(600)));
    s.advance(t0 + milliseconds(600));
    EXPECT_FALSE(s.due(t0 + milliseconds(653)));
    EXPECT_TRUE(s.due(t0 + milliseconds(654)));
}

// A line whose bursts the test delivers, recording what the loop does with them.
class ScriptedLine : public Line, public BurstEvents {
public:
    explicit ScriptedLine(LinkBuffers& link) : link_(link) {}
    int open(const char*) override { return kPortOpened; }
    bool isOpen() const override { return true; }
    void close() override {}
    void handOff() override {
        sent.emplace_back(reinterpret_cast<const char*>(link_.transmitBuffer + 1), link_.transmitBuffer[0]);
    }
    void stopGapTimer() override { ++gapStops; }
    int burstEventFd() const override { return -1; }
    bool takeBurstEnd() override { return false; }
    bool takeLineLost() override { return false; }
    bool lost() const override { return false; }
    void releaseBurst() override {
        ++releases;
        if (onRelease) onRelease();
    }

    void receive(const std::string& burst) {
        std::memcpy(link_.receiveBuffer, burst.data(), burst.size());
        link_.receiveLength = static_cast<std::uint32_t>(burst.size());
        link_.gapTimerRunning = 1;
    }

    std::vector<std::string> sent;
    int gapStops = 0;
    int releases = 0;
    std::function<void()> onRelease;

private:
    LinkBuffers& link_;
};

struct LoopRig {
    HeadlessWindow window;
    LinkBuffers link;
    ScriptedLine line{link};
    Core core{window, line, link};
    TimePoint t0{};
    HostLoop loop{core, line, t0};

    LoopRig() { core.startUp(); }
    // Runs the loop at every millisecond up to `ms` since t0, with no burst.
    void runTo(int ms) {
        for (; now_ <= ms; ++now_) loop.handle(t0 + milliseconds(now_), false);
    }
    void burstAt(int ms) {
        runTo(ms - 1);
        loop.handle(t0 + milliseconds(ms), true);
        now_ = ms + 1;
    }
    int now_ = 0;
};

TEST(HostLoopTest, TicksTheCoreEvery54Milliseconds) {
    LoopRig rig;
    rig.runTo(54 * 10 - 1);
    EXPECT_EQ(rig.core.tickCounter, 9u);
    rig.runTo(54 * 10);
    EXPECT_EQ(rig.core.tickCounter, 10u);
}

TEST(HostLoopTest, ClassifiesAnEndedBurstAtOnceAndReleasesItAfterTheNextTick) {
    LoopRig rig;
    rig.runTo(100);
    rig.line.receive("\r\nOK\r\n");
    rig.burstAt(120);
    EXPECT_EQ(rig.core.replyFlags & kOkBit, kOkBit);
    EXPECT_EQ(rig.link.receiveLength.load(), 0u);
    EXPECT_EQ(rig.link.gapTimerRunning.load(), 0u);
    EXPECT_EQ(rig.line.releases, 0);
    rig.runTo(161);  // the tick at 162 has not come yet
    EXPECT_EQ(rig.line.releases, 0);
    rig.runTo(162);
    EXPECT_EQ(rig.line.releases, 1);
    rig.runTo(500);
    EXPECT_EQ(rig.line.releases, 1);
}

TEST(HostLoopTest, AReadTakesItsReplyBeforeTheReaderMayOverwriteTheBuffer) {
    LoopRig rig;
    const TextField& address = rig.core.controllerPanel.parameterFields[1];
    std::string shownAtRelease;
    rig.line.onRelease = [&] { shownAtRelease = rig.window.textOf(address.control()); };
    rig.core.onCommand(IDC_PARAMETER_READ_BASE + 1, 0);
    rig.runTo(54 * 2);  // step 0 -> 1, then the request goes out
    ASSERT_EQ(rig.line.sent.size(), 1u);
    EXPECT_EQ(rig.line.sent[0], std::string("\x0A\x21\xAA\x4E\x40\0\0\0\0\0\0\0", 12));
    rig.line.receive(std::string("\x0A\x21\xAA\x40\x07\r\n", 7));
    rig.burstAt(400);
    rig.runTo(54 * 8);
    EXPECT_EQ(rig.line.releases, 1);
    EXPECT_EQ(shownAtRelease, "007");
    EXPECT_TRUE(rig.core.requests.isSet(kReadAddress));  // step 3 lowers it on the next tick
    rig.runTo(54 * 9);
    EXPECT_FALSE(rig.core.requests.isSet(kReadAddress));
}

TEST(HostLoopTest, AReadWithoutAnswerEndsAfterSixtyTicks) {
    LoopRig rig;
    rig.core.onCommand(IDC_PARAMETER_READ_BASE, 0);
    // Seen at the tick of counter 0, sent at counter 1, deadline 61: passed at
    // counter 62, request lowered at counter 63 (the 64th tick).
    rig.runTo(54 * 63);
    EXPECT_TRUE(rig.core.requests.isSet(kReadPeriod));
    rig.runTo(54 * 64);
    EXPECT_FALSE(rig.core.requests.isSet(kReadPeriod));
}

}  // namespace
}  // namespace ostrakan
