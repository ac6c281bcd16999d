#include "serial/burst_handover.h"

#include <cstring>

#include "timing/tick.h"

namespace ostrakan {

BurstHandover::BurstHandover(LinkBuffers& link)
    : link_(link), gap_(Milliseconds(kGapMilliseconds)) {}

void BurstHandover::reset() {
    gap_.stop();
    ended_.store(false, std::memory_order_relaxed);
    held_.store(false, std::memory_order_relaxed);
}

void BurstHandover::store(const std::uint8_t* chunk, std::size_t size, TimePoint now) {
    if (size == 0) return;
    const bool first = !gap_.running();
    std::uint32_t length = first ? 0 : link_.receiveLength.load(std::memory_order_relaxed);
    if (length > kReceiveBufferSize) length = kReceiveBufferSize;
    const std::size_t room = kReceiveBufferSize - length;
    const std::size_t keep = size < room ? size : room;
    std::memcpy(link_.receiveBuffer + length, chunk, keep);
    length += static_cast<std::uint32_t>(keep);
    if (keep < size) dropped_.fetch_add(static_cast<std::uint32_t>(size - keep), std::memory_order_relaxed);
    if (first) link_.gapTimerRunning.store(1, std::memory_order_relaxed);
    // Release: the bytes are in place before anyone can see the length.
    link_.receiveLength.store(length, std::memory_order_release);
    gap_.restart(now);
}

int BurstHandover::waitMilliseconds(TimePoint now) const {
    return accepting() ? gap_.pollTimeout(now) : -1;
}

void BurstHandover::end() {
    held_.store(true, std::memory_order_release);
    ended_.store(true, std::memory_order_release);
}

bool BurstHandover::endIfQuiet(TimePoint now) {
    if (!gap_.expire(now)) return false;
    end();
    return true;
}

bool BurstHandover::endNow() {
    if (!gap_.running()) return false;
    gap_.stop();
    end();
    return true;
}

bool BurstHandover::takeEnded() { return ended_.exchange(false, std::memory_order_acq_rel); }

bool BurstHandover::release() { return held_.exchange(false, std::memory_order_acq_rel); }

}  // namespace ostrakan
