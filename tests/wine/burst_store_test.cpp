// The reader's cut of a burst at the end of the 600-byte receive buffer.
#include <gtest/gtest.h>

#include <vector>

#include "serial/windows/burst_store.h"

namespace ostrakan {
namespace {

std::vector<std::uint8_t> bytes(std::size_t n, std::uint8_t value) {
    return std::vector<std::uint8_t>(n, value);
}

TEST(BurstStore, ChunksAppendFromTheCurrentLength) {
    LinkBuffers link;
    const auto a = bytes(3, 0x11), b = bytes(2, 0x22);
    EXPECT_EQ(storeChunk(link, a.data(), a.size()), 3u);
    EXPECT_EQ(storeChunk(link, b.data(), b.size()), 2u);
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
    const auto first = bytes(590, 0x01), second = bytes(40, 0x02);
    EXPECT_EQ(storeChunk(g.link, first.data(), first.size()), 590u);
    EXPECT_EQ(storeChunk(g.link, second.data(), second.size()), 10u);
    EXPECT_EQ(g.link.receiveLength.load(), 600u);
    EXPECT_EQ(g.link.receiveBuffer[599], 0x02);
    for (std::uint8_t b : g.after) EXPECT_EQ(b, 0x5A);
}

TEST(BurstStore, AFullBufferDropsFurtherChunks) {
    LinkBuffers link;
    const auto full = bytes(600, 0x03), more = bytes(100, 0x04);
    storeChunk(link, full.data(), full.size());
    EXPECT_EQ(storeChunk(link, more.data(), more.size()), 0u);
    EXPECT_EQ(link.receiveLength.load(), 600u);
    EXPECT_EQ(link.receiveBuffer[0], 0x03);
    EXPECT_EQ(link.receiveBuffer[599], 0x03);
}

TEST(BurstStore, ANewBurstStartsAtZeroOnceTheLengthIsReset) {
    LinkBuffers link;
    const auto a = bytes(10, 0x05), b = bytes(4, 0x06);
    storeChunk(link, a.data(), a.size());
    link.receiveLength.store(0);  // the reader at a burst's first chunk
    storeChunk(link, b.data(), b.size());
    EXPECT_EQ(link.receiveLength.load(), 4u);
    EXPECT_EQ(link.receiveBuffer[0], 0x06);
    EXPECT_EQ(link.receiveBuffer[4], 0x05);  // stale bytes of the earlier burst stay
}

}  // namespace
}  // namespace ostrakan
