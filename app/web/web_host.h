// The Worker's host loop in the browser. Timers there are late by a few
// milliseconds, and by far more in a busy or hidden page, so the loop does not
// tick when a timer fires: it replays every event up to the present in the
// order it fell due (each 54 ms tick, each end of a 200 ms quiet period, each
// chunk at the instant it arrived). A late timer therefore catches up instead of
// stretching the protocol's timing. Instants are whole milliseconds on the
// page's clock (performance.now()); tests pass made-up ones.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/host_loop_base.h"
#include "serial/web/web_line.h"

namespace ostrakan {

class WebHost : public HostLoopBase {
public:
    WebHost(Core& core, WebLine& line, double startMs);

    // Runs every event due up to `nowMs`.
    void advanceTo(double nowMs);
    // Bytes from the device at `nowMs` (after the events due before them).
    void receive(const std::uint8_t* bytes, std::size_t size, double nowMs);
    // The transport went away at `nowMs`.
    void lose(double nowMs);
    // When the next event falls due, in the page's milliseconds.
    double nextEventMs() const;

    void runOnce() override { advanceTo(toMs(now_)); }

private:
    static TimePoint at(double ms);
    static double toMs(TimePoint t);

    WebLine& line_;
    TimePoint now_;
};

}  // namespace ostrakan
