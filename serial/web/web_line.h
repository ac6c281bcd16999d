// The browser's serial back end: the line is a pair of byte queues. The page's
// transport (Web Serial or a WebSocket relay) pushes what the device sent into
// the reader side, and takes what the core handed off after each pass of the
// Worker's loop, one message per hand-off. Everything runs on the Worker's one
// thread, so the reader's part (the 200 ms quiet period in the BurstHandover)
// is driven by the host loop at the instants the bytes arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/burst_handover.h"
#include "serial/line.h"
#include "serial/link_buffers.h"
#include "timing/clock.h"

namespace ostrakan {

class WebLine : public Line {
public:
    explicit WebLine(LinkBuffers& link) : link_(link), handover_(link) {}
    WebLine(const WebLine&) = delete;
    WebLine& operator=(const WebLine&) = delete;

    // Line. open() succeeds only while the page holds a connected transport: the
    // page connects first (a chooser or a socket cannot be waited for here).
    int open(const char* name) override;
    bool isOpen() const override { return open_; }
    void close() override;
    void handOff() override;
    void stopGapTimer() override {}
    void releaseBurst() override;
    bool lost() const override { return lost_; }

    // ---- the page's transport ----
    void setTransportReady(bool ready) { transportReady_ = ready; }
    // Bytes from the device at `now`. While a burst waits for the classifier they
    // wait too, as bytes wait in a driver for a reader that holds a burst.
    void receive(const std::uint8_t* bytes, std::size_t size, TimePoint now);
    // The transport went away under the open port (a pulled adapter, a closed relay).
    void markLost();
    // True once after markLost(); the host loop then reports the loss to the core.
    bool takeLineLost();
    // True once after close(): the page must let go of its transport.
    bool takeCloseRequest();
    // The hand-offs since the last call, one message each, oldest first.
    std::vector<std::string> takeOutgoing();

    // ---- the host loop, reader side ----
    // The instant of the pass the host loop is about to run (a release reads at it).
    void passAt(TimePoint now) { now_ = now; }
    BurstHandover& handover() { return handover_; }
    // The instant the quiet period of the open burst ends, if one is open.
    bool quietDeadline(TimePoint now, TimePoint* when) const;

private:
    LinkBuffers& link_;
    BurstHandover handover_;
    bool open_ = false;
    bool transportReady_ = false;
    bool lost_ = false;
    bool lossUntold_ = false;
    bool closeRequest_ = false;
    TimePoint now_{};
    std::vector<std::uint8_t> waiting_;
    std::vector<std::string> outgoing_;
};

}  // namespace ostrakan
