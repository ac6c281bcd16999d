// The reader's cut of a burst at the end of the 600-byte receive buffer, as the
// Win32 reader stores its chunks through the burst hand-over.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "serial/burst_handover.h"

namespace ostrakan {
namespace {

std::vector<std::uint8_t> bytes(std::size_t n, std::uint8_t value) {
    return std::vector<std::uint8_t>(n, value);
}

const TimePoint t0{};
TimePoint at(int ms) { return t0 + Milliseconds(ms); }

TEST(BurstStore, ChunksAppendFromTheCurrentLength) {
    LinkBuffers link;
    BurstHandover handover(link);
    const auto a = bytes(3, 0x11), b = bytes(2, 0x22);
    handover.store(a.data(), a.size(), at(0));
    handover.store(b.data(), b.size(), at(50));
    EXPECT_EQ(link.receiveLength.load(), 5u);
    EXPECT_EQ(link.receiveBuffer[2], 0x11);
    EXPECT_EQ(link.receiveBuffer[3], 0x22);
    EXPECT_EQ(link.receiveBuffer[5], 0x00);
}

TEST(BurstStore, AChunkCrossingTheEndIsCutAt600) {
    // Guard bytes around the buffer: nothing may be written past its end.
    struct Guarded {
        LinkBuffers link;
        std::uint8_t after[64];
    } g;
    std::memset(g.after, 0x5A, sizeof g.after);
    BurstHandover handover(g.link);
    const auto first = bytes(590, 0x01), second = bytes(40, 0x02);
    handover.store(first.data(), first.size(), at(0));
    handover.store(second.data(), second.size(), at(10));
    EXPECT_EQ(g.link.receiveLength.load(), 600u);
    EXPECT_EQ(g.link.receiveBuffer[599], 0x02);
    EXPECT_EQ(handover.droppedBytes(), 30u);
    for (std::uint8_t b : g.after) EXPECT_EQ(b, 0x5A);
}

TEST(BurstStore, AFullBufferDropsFurtherChunks) {
    LinkBuffers link;
    BurstHandover handover(link);
    const auto full = bytes(600, 0x03), more = bytes(100, 0x04);
    handover.store(full.data(), full.size(), at(0));
    handover.store(more.data(), more.size(), at(10));
    EXPECT_EQ(link.receiveLength.load(), 600u);
    EXPECT_EQ(handover.droppedBytes(), 100u);
    EXPECT_EQ(link.receiveBuffer[0], 0x03);
    EXPECT_EQ(link.receiveBuffer[599], 0x03);
}

TEST(BurstStore, ANewBurstStartsAtZeroOnceTheLastIsReleased) {
    LinkBuffers link;
    BurstHandover handover(link);
    const auto a = bytes(10, 0x05), b = bytes(4, 0x06);
    handover.store(a.data(), a.size(), at(0));
    EXPECT_FALSE(handover.endIfQuiet(at(199)));
    ASSERT_TRUE(handover.endIfQuiet(at(200)));
    EXPECT_FALSE(handover.accepting());  // held until the window's thread lets go
    ASSERT_TRUE(handover.takeEnded());
    EXPECT_TRUE(handover.release());
    handover.store(b.data(), b.size(), at(300));
    EXPECT_EQ(link.receiveLength.load(), 4u);
    EXPECT_EQ(link.receiveBuffer[0], 0x06);
    EXPECT_EQ(link.receiveBuffer[4], 0x05);  // stale bytes of the earlier burst stay
}

}  // namespace
}  // namespace ostrakan
