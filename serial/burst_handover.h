// The hand-over of a received burst from a back end's reader thread to the
// window's thread, the same on every platform.
//
// The reader owns the 200 ms quiet period. It appends each chunk it reads from
// the driver; once the line has been quiet for the whole period it ends the
// burst, holds it and wakes the window's thread, which runs the reply classifier.
// While a burst is held the reader leaves new bytes in the driver: the window's
// thread releases the burst only after the tick that follows the classifier, the
// one in which a waiting procedure decodes its reply from the receive buffer. So
// the buffer is never written while the window's thread reads it, and a chunk at
// a burst's edge is neither lost nor joined to a burst already classified.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "timing/clock.h"
#include "serial/link_buffers.h"
#include "serial/quiet_timer.h"

namespace ostrakan {

class BurstHandover {
public:
    explicit BurstHandover(LinkBuffers& link);
    BurstHandover(const BurstHandover&) = delete;
    BurstHandover& operator=(const BurstHandover&) = delete;

    // Window's thread, while no reader runs (before it starts): a fresh session.
    void reset();

    // ---- reader thread ----
    // False while an ended burst waits for the window's thread: do not read the driver.
    bool accepting() const { return !held_.load(std::memory_order_acquire); }
    // Appends a chunk read from the driver and restarts the quiet period. A burst's
    // first chunk goes to offset 0; bytes past the 600-byte buffer are dropped.
    void store(const std::uint8_t* chunk, std::size_t size, TimePoint now);
    // How long the reader may wait for more bytes before it must look at the
    // clock again: -1 (no limit) while no burst is open or a burst is held.
    int waitMilliseconds(TimePoint now) const;
    // True once per burst, when the line has been quiet for the whole period: the
    // burst is then ended and held, and the caller wakes the window's thread.
    bool endIfQuiet(TimePoint now);
    // The reader is leaving (close, loss): a burst cut short still reaches the
    // classifier, as a window timer already armed would still fire. True when
    // one was open; the caller then wakes the window's thread.
    bool endNow();

    // ---- window's thread ----
    // True once per ended burst; its bytes may then be read on this thread.
    bool takeEnded();
    // The reply has been taken: the reader may go on. True when the reader was
    // holding a burst and must be woken to read what waits in the driver.
    bool release();

    // Bytes read from the driver and dropped past the buffer (for tests and traces).
    std::uint32_t droppedBytes() const { return dropped_.load(std::memory_order_relaxed); }

private:
    void end();

    LinkBuffers& link_;
    // Reader thread only (reset() runs before the reader exists).
    QuietTimer gap_;
    // Set by the reader (release) when it ends a burst; cleared by takeEnded() on
    // the window's thread (acquire), which then reads the receive buffer.
    std::atomic<bool> ended_{false};
    // Set by the reader together with ended_; cleared by release() on the window's
    // thread once nothing reads the buffer before the next burst. The reader
    // (acquire) reads nothing from the driver while it is set.
    std::atomic<bool> held_{false};
    // Reader thread adds; anyone reads.
    std::atomic<std::uint32_t> dropped_{0};
};

}  // namespace ostrakan
