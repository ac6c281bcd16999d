#include "app/web/web_host.h"

#include <cmath>

namespace ostrakan {

namespace {
// A page asleep for hours replays its ticks in one go; past this many events in
// one call it gives up the rest of the backlog and goes on from now.
constexpr int kMaxEventsPerCall = 200000;
}  // namespace

WebHost::WebHost(Core& core, WebLine& line, double startMs)
    : HostLoopBase(core, at(startMs)), line_(line), now_(at(startMs)) {}

TimePoint WebHost::at(double ms) {
    // Whole milliseconds: the tick and the quiet period are whole too, so every
    // deadline lands exactly on an instant the loop can name.
    return TimePoint{} + Milliseconds(static_cast<long long>(std::floor(ms)));
}

double WebHost::toMs(TimePoint t) {
    return static_cast<double>(std::chrono::duration_cast<Milliseconds>(t.time_since_epoch()).count());
}

void WebHost::advanceTo(double nowMs) {
    const TimePoint now = at(nowMs);
    if (now < now_) return;  // the clock never runs back; a stale call has nothing to do
    for (int events = 0; events < kMaxEventsPerCall; ++events) {
        TimePoint when = nextTick();
        TimePoint quiet;
        const bool burstOpen = line_.quietDeadline(now_, &quiet);
        if (burstOpen && quiet < when) when = quiet;
        if (when > now) break;
        if (when > now_) now_ = when;
        line_.passAt(now_);
        const bool ended = line_.handover().endIfQuiet(now_);
        const bool burstEnded = ended && line_.handover().takeEnded();
        handle(now_, burstEnded, line_.takeLineLost());
    }
    now_ = now;
    line_.passAt(now_);
}

void WebHost::receive(const std::uint8_t* bytes, std::size_t size, double nowMs) {
    advanceTo(nowMs);
    line_.receive(bytes, size, now_);
}

void WebHost::lose(double nowMs) {
    advanceTo(nowMs);
    line_.markLost();
    // A burst cut short still reaches the classifier, then the loss closes the port.
    const bool burstEnded = line_.handover().endNow() && line_.handover().takeEnded();
    handle(now_, burstEnded, line_.takeLineLost());
}

double WebHost::nextEventMs() const {
    TimePoint when = nextTick();
    TimePoint quiet;
    if (line_.quietDeadline(now_, &quiet) && quiet < when) when = quiet;
    return toMs(when);
}

}  // namespace ostrakan
