// SHA-256 (FIPS 180-4) of a byte string, as 64 lower-case hex digits: the unit
// log's fingerprint of the profile a unit was given. Written here rather than
// taken from a crypto library because ostrakan-cli.exe links only the system's
// own DLLs and this is the one digest the tools need; it fingerprints, it does
// not protect anything.
#pragma once

#include <string>
#include <string_view>

namespace ostrakan {

std::string sha256Hex(std::string_view bytes);

}  // namespace ostrakan
