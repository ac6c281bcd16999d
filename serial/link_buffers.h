// The receive and transmit buffers shared by the window's thread and the serial
// reader and writer threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ostrakan {

constexpr std::size_t kReceiveBufferSize = 600;
constexpr std::size_t kTransmitBufferSize = 256;

struct LinkBuffers {
    // The current burst from offset 0. Written by the reader thread while a burst
    // is coming in; read by the window's thread only after the burst has ended
    // (the gap timer fired). Never cleared: bytes past receiveLength are stale.
    std::uint8_t receiveBuffer[kReceiveBufferSize] = {};

    // Bytes of the current burst. Reader thread: grows it while storing a chunk
    // (never past 600) and sets it to 0 at a burst's first chunk. Window's thread:
    // the reply classifier sets it to 0 when it has handled the burst.
    std::atomic<std::uint32_t> receiveLength{0};

    // Nonzero while the gap timer runs. Reader thread: sets it when it arms the
    // timer. Window's thread: the classifier sets it to 0, so the next chunk
    // starts a new burst at offset 0.
    std::atomic<std::uint32_t> gapTimerRunning{0};

    // Byte 0 is the transmit count, then the bytes to send. Written by the
    // window's thread before a send hand-off; read by the writer thread after it.
    std::uint8_t transmitBuffer[kTransmitBufferSize] = {};

    // Length of the burst the reply classifier last handled: the procedures decode
    // their reply from it after receiveLength has been reset. Window's thread only.
    std::uint32_t replyLength = 0;

    // Bytes of the burst now in the receive buffer, never more than the buffer holds.
    std::size_t burstLength() const {
        const std::uint32_t n = receiveLength.load(std::memory_order_acquire);
        return n < kReceiveBufferSize ? n : kReceiveBufferSize;
    }
    std::size_t classifiedLength() const {
        return replyLength < kReceiveBufferSize ? replyLength : kReceiveBufferSize;
    }
};

}  // namespace ostrakan
