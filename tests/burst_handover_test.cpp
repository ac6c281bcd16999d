// The burst hand-over between a reader thread and the window's thread, on made-up
// time points; the threaded case is meant to run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/burst_handover.h"

namespace ostrakan {
namespace {

using std::chrono::milliseconds;

// Byte i of everything a test's far end sends.
std::uint8_t patternByte(std::size_t i) { return static_cast<std::uint8_t>(i * 7 + i / 251); }

std::string burstOf(const LinkBuffers& link) {
    return std::string(reinterpret_cast<const char*>(link.receiveBuffer), link.burstLength());
}

TEST(BurstHandoverTest, ChunksMakeBurstsThatEndAfterTheQuietPeriod) {
    struct Chunk {
        int atMs;
        std::size_t size;
    };
    const struct {
        const char* name;
        std::vector<Chunk> chunks;
        int checkMs;
        bool ended;
        std::uint32_t length;
        std::uint32_t dropped;
    } kCases[] = {
        {"first chunk at offset 0, still open", {{0, 5}}, 199, false, 5, 0},
        {"first chunk, quiet for 200 ms", {{0, 5}}, 200, true, 5, 0},
        {"a chunk within 200 ms continues", {{0, 5}, {150, 7}}, 349, false, 12, 0},
        {"continued burst ends 200 ms after its last chunk", {{0, 5}, {150, 7}}, 350, true, 12, 0},
        {"cut at 600 bytes, the rest counted as dropped", {{0, 500}, {10, 250}, {20, 30}}, 220, true, 600, 180},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        LinkBuffers link;
        std::memset(link.receiveBuffer, 0xEE, sizeof link.receiveBuffer);
        link.receiveLength = 77;  // left by an earlier burst the classifier saw
        BurstHandover h(link);
        const TimePoint t0{};
        std::string sent;
        for (const Chunk& chunk : c.chunks) {
            std::string bytes;
            for (std::size_t i = 0; i < chunk.size; ++i) bytes += static_cast<char>(patternByte(sent.size() + i));
            EXPECT_FALSE(h.endIfQuiet(t0 + milliseconds(chunk.atMs)));
            h.store(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), t0 + milliseconds(chunk.atMs));
            sent += bytes;
        }
        EXPECT_EQ(h.endIfQuiet(t0 + milliseconds(c.checkMs)), c.ended);
        EXPECT_EQ(h.accepting(), !c.ended);
        EXPECT_EQ(h.takeEnded(), c.ended);
        EXPECT_FALSE(h.takeEnded());
        EXPECT_EQ(link.receiveLength.load(), c.length);
        EXPECT_EQ(link.gapTimerRunning.load(), 1u);
        EXPECT_EQ(burstOf(link), sent.substr(0, c.length));
        EXPECT_EQ(h.droppedBytes(), c.dropped);
    }
}

TEST(BurstHandoverTest, AHeldBurstWaitsForItsReleaseAndTheNextStartsAtOffsetZero) {
    LinkBuffers link;
    BurstHandover h(link);
    const TimePoint t0{};
    const auto at = [&](int ms) { return t0 + milliseconds(ms); };
    const auto store = [&](const char* text, int ms) {
        h.store(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text), at(ms));
    };
    EXPECT_EQ(h.waitMilliseconds(at(0)), -1);  // idle: no limit
    EXPECT_FALSE(h.endNow());                  // nothing open
    store("FIRST", 0);
    EXPECT_EQ(h.waitMilliseconds(at(50)), 150);
    ASSERT_TRUE(h.endIfQuiet(at(200)));
    EXPECT_FALSE(h.endIfQuiet(at(300)));  // once per burst
    EXPECT_FALSE(h.accepting());
    EXPECT_EQ(h.waitMilliseconds(at(300)), -1);  // held: only the release wakes the reader
    ASSERT_TRUE(h.takeEnded());
    // The classifier and the tick after it; then the release, once.
    link.receiveLength = 0;
    link.gapTimerRunning = 0;
    EXPECT_TRUE(h.release());
    EXPECT_FALSE(h.release());
    EXPECT_TRUE(h.accepting());
    store("NX", 400);
    EXPECT_EQ(burstOf(link), "NX");
    EXPECT_EQ(link.gapTimerRunning.load(), 1u);
    // The reader leaves (close, loss) with a burst open: it still reaches the classifier.
    ASSERT_TRUE(h.endNow());
    EXPECT_FALSE(h.accepting());
    EXPECT_TRUE(h.takeEnded());
    EXPECT_EQ(burstOf(link), "NX");
}

// A reader thread sends chunks around burst boundaries while the main thread
// takes, reads and releases each ended burst: every byte arrives in exactly one
// burst, in order, and a burst is never written while the main thread reads it.
TEST(BurstHandoverTest, AReaderThreadAndTheWindowsThreadShareTheBufferSafely) {
    LinkBuffers link;
    BurstHandover h(link);
    constexpr int kChunks = 3000;
    std::vector<std::string> expected(1);  // the bursts as the reader cut them
    std::atomic<bool> readerDone{false};

    std::thread reader([&] {
        TimePoint now{};
        std::size_t next = 0;
        unsigned seed = 12345;
        for (int i = 0; i < kChunks; ++i) {
            seed = seed * 1103515245u + 12345u;
            // Mostly chunks of one burst, 0..199 ms apart; sometimes exactly at the
            // end of the quiet period, or past it.
            const int gap = (seed >> 8) % 5 == 0 ? 200 + static_cast<int>((seed >> 12) % 3) : (seed >> 12) % 200;
            now += milliseconds(gap);
            if (h.endIfQuiet(now)) expected.emplace_back();
            while (!h.accepting()) std::this_thread::yield();
            std::uint8_t chunk[40];
            std::size_t size = 1 + (seed >> 16) % sizeof chunk;
            if (expected.back().size() + size > kReceiveBufferSize) {  // keep every byte: no cut here
                now += milliseconds(200);
                if (h.endIfQuiet(now)) expected.emplace_back();
                while (!h.accepting()) std::this_thread::yield();
            }
            for (std::size_t k = 0; k < size; ++k) chunk[k] = patternByte(next++);
            h.store(chunk, size, now);
            expected.back().append(reinterpret_cast<const char*>(chunk), size);
        }
        h.endNow();
        readerDone.store(true);
    });

    std::vector<std::string> received;
    for (;;) {
        const bool done = readerDone.load();
        if (h.takeEnded()) {
            const std::string burst = burstOf(link);
            received.push_back(burst);
            std::this_thread::yield();  // the decoders' tick: the reader must not write now
            EXPECT_EQ(burstOf(link), burst);
            link.receiveLength = 0;
            link.gapTimerRunning = 0;
            h.release();
        } else if (done) {
            break;
        } else {
            std::this_thread::yield();
        }
    }
    reader.join();
    ASSERT_EQ(received.size(), expected.size() - (expected.back().empty() ? 1 : 0));
    for (std::size_t i = 0; i < received.size(); ++i) ASSERT_EQ(received[i], expected[i]) << "burst " << i;
    EXPECT_GT(received.size(), 100u);
    EXPECT_EQ(h.droppedBytes(), 0u);
}

}  // namespace
}  // namespace ostrakan
