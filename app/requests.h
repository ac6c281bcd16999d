// The fourteen request flags, in the order the tick calls their procedures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrakan {

enum Request : std::uint8_t {
    kModemQuery,
    kModemSetup,
    kReadPeriod,
    kWritePeriod,
    kReadAddress,
    kWriteAddress,
    kReadPhone1,
    kWritePhone1,
    kReadPhone2,
    kWritePhone2,
    kReadSmsPhone,
    kWriteSmsPhone,
    kReadChannels,
    kWriteChannels,
    kRequestCount,
};

// Raised by the command dispatch, lowered only by the owning procedure.
struct RequestFlags {
    std::uint8_t flag[kRequestCount] = {};

    void raise(Request r) { flag[r] = 1; }
    bool isSet(Request r) const { return flag[r] != 0; }
    void lower(Request r) { flag[r] = 0; }

    bool anyOtherSet(Request own) const {
        for (std::size_t i = 0; i < kRequestCount; ++i)
            if (i != own && flag[i]) return true;
        return false;
    }
    bool anySet() const { return anyOtherSet(kRequestCount); }
};

}  // namespace ostrakan
