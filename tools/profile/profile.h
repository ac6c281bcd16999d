// A whole unit's settings as one JSON document (docs/profile-format.md): the five
// controller parameters, the 31 channels and the modem's entries. Every item is
// optional; a restore writes only what is present.
//
// Texts are UTF-8 here, as in the file. The unit and "_data.ini" hold code page
// 1251, so the byte limits are checked on the 1251 form, which the caller
// supplies: reading a profile is parseProfile (the file's shape and every rule
// that does not depend on the encoding), then validateProfile with the caller's
// UTF-8 -> 1251 converter (the rest). Nothing may be sent before both passed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ostrakan {

constexpr const char* kProfileFormat = "ostrakan-profile/1";
constexpr std::size_t kProfileChannels = 31;

// The largest profile file read. A whole unit's profile is about 3 KiB; a reader
// of any size would let a wrong file (a device, a disk image) take all memory.
// The file is refused before it is read whole, so readers stop at this size + 1.
constexpr std::size_t kMaxProfileBytes = 1024 * 1024;

struct ProfileChannel {
    bool a = false;
    bool t = false;
    bool bx = false;

    bool operator==(const ProfileChannel& o) const { return a == o.a && t == o.t && bx == o.bx; }
    bool operator!=(const ProfileChannel& o) const { return !(*this == o); }
};

// The channel byte of a write request, and the channel a reply's byte gives.
std::uint8_t channelByte(const ProfileChannel& channel);
ProfileChannel channelFromByte(std::uint8_t byte);

struct Profile {
    // Controller: the texts the window's fields would show.
    std::optional<std::string> period;   // three digits
    std::optional<std::string> address;  // three digits
    std::optional<std::string> phone1;
    std::optional<std::string> phone2;
    std::optional<std::string> sms;
    std::optional<std::array<ProfileChannel, kProfileChannels>> channels;  // channel 1 first

    // Modem. internet == false is the without-internet path: ip, apn, user and
    // password are then kept (so a profile reads back as written) but neither
    // length-checked nor sent. Absent means the full path when an entry is present.
    std::optional<bool> internet;
    std::optional<std::string> ip;
    std::optional<std::string> apn;
    std::optional<std::string> user;
    std::optional<std::string> password;

    bool operator==(const Profile& o) const;
    bool operator!=(const Profile& o) const { return !(*this == o); }

    // Whether the restore runs the modem's full path with these entries.
    bool writesModemEntries() const {
        return internet.value_or(true) && (ip || apn || user || password);
    }
};

// Reads a profile. On failure returns false with *error naming the item by its
// path in the file ("controller.period: \"12\" is not three digits"), or the
// line and column of a JSON syntax error; a text over kMaxProfileBytes is
// refused unread. *profile is only meaningful on success.
bool parseProfile(const std::string& text, Profile* profile, std::string* error);

// Converts UTF-8 text to code page 1251; false when a character has no 1251 form.
using ToCodePage1251 = std::function<bool(const std::string& utf8, std::string* cp1251)>;

// The byte limits of the single writes, on the 1251 form: phones at most 18
// bytes, the modem entries within their command buffers (IP 58, APN 78, User 77,
// Password 75) and together within the 96 bytes "_data.ini" holds.
bool validateProfile(const Profile& profile, const ToCodePage1251& toCp1251, std::string* error);

// The profile as JSON text in the documented layout: "format" first, then
// "controller", then "modem", one channel per line; sections with nothing in
// them are left out. parseProfile(writeProfile(p)) gives p back.
std::string writeProfile(const Profile& profile);

}  // namespace ostrakan
