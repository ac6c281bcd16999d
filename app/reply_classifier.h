// Runs once per ended burst (gap-timer expiry): turns the burst's shape into reply
// flag bits and copies user, APN and server address out of the modem's
// configuration listings.
#pragma once

#include <cstdint>

#include "fields/text_field.h"
#include "serial/line.h"
#include "serial/link_buffers.h"

namespace ostrakan {

struct ClassifierTargets {
    TextField& ipAddress;
    TextField& apn;
    TextField& user;
};

// Reads only the bytes of the current burst (below receiveLength, never past the
// 600-byte buffer); stale bytes of earlier bursts are not data.
void classifyReply(LinkBuffers& link, Line& line, std::uint8_t& replyFlags,
                   const ClassifierTargets& targets);

}  // namespace ostrakan
