// A scripted serial line for the core's tests: it records every hand-off with its
// tick and the bytes sent, and delivers replies by filling the receive buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial/line.h"
#include "serial/link_buffers.h"

namespace ostrakan::test {

class FakeLine : public Line {
public:
    struct Sent {
        std::uint32_t tick;
        std::string bytes;
    };

    explicit FakeLine(LinkBuffers& link) : link_(link) {}

    int open(const char* name) override;
    bool isOpen() const override { return open_; }
    void close() override { open_ = false; ++closes; }
    void handOff() override;
    void stopGapTimer() override { ++gapTimerStops; }
    void releaseBurst() override { ++releases; }
    bool lost() const override { return false; }

    // Puts a burst into the receive buffer as the reader thread would (cut at 600).
    void receive(const std::string& burst);

    // The tick the next hand-off is recorded with (tests keep it in step with Core).
    const std::uint32_t* tickSource = nullptr;

    std::vector<Sent> sent;
    std::vector<std::string> openedNames;
    int openResult = kPortOpened;
    int gapTimerStops = 0;
    int releases = 0;
    int closes = 0;

private:
    LinkBuffers& link_;
    bool open_ = false;
};

std::string bytes(std::initializer_list<int> values);

}  // namespace ostrakan::test
