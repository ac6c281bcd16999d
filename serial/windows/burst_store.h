// Appending a received chunk to the current burst without ever writing past the
// 600-byte receive buffer. Platform-free, so it is tested natively too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "serial/link_buffers.h"

namespace ostrakan {

// Stores what fits of `chunk` at offset receiveLength and grows receiveLength by
// that much; the rest of a burst longer than the buffer is dropped. Returns the
// number of bytes stored. Only the reader thread calls it.
inline std::size_t storeChunk(LinkBuffers& link, const std::uint8_t* chunk, std::size_t size) {
    const std::uint32_t at = link.receiveLength.load(std::memory_order_relaxed);
    if (at >= kReceiveBufferSize) return 0;
    const std::size_t room = kReceiveBufferSize - at;
    const std::size_t n = size < room ? size : room;
    std::memcpy(link.receiveBuffer + at, chunk, n);
    // Release: the bytes are in place before the window's thread can see the length.
    link.receiveLength.store(at + static_cast<std::uint32_t>(n), std::memory_order_release);
    return n;
}

}  // namespace ostrakan
