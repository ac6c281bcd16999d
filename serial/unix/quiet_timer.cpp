#include "serial/unix/quiet_timer.h"

namespace ostrakan {

int millisecondsUntil(TimePoint when, TimePoint now) {
    if (when <= now) return 0;
    const auto wait = std::chrono::ceil<Milliseconds>(when - now).count();
    return wait > 1000000 ? 1000000 : static_cast<int>(wait);
}

}  // namespace ostrakan
