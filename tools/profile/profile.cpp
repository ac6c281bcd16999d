#include "tools/profile/profile.h"


#include "controller/frames.h"
#include "modem/commands.h"
#include "modem/panel.h"
#include "tools/json/json_reader.h"
#include "tools/json/json_writer.h"

namespace ostrakan {

namespace {

using json_reader::Value;
using Type = Value::Type;

std::string quoted(const std::string& text) { return jsonQuoted(text); }

bool fail(std::string* error, const std::string& path, const std::string& what) {
    *error = path + ": " + what;
    return false;
}

bool wrongType(std::string* error, const std::string& path, Type expected, const Value& v) {
    return fail(error, path,
                std::string("expected ") + json_reader::typeName(expected) + ", got " +
                    json_reader::typeName(v.type));
}

// Every key of the object must be one of `known`.
template <std::size_t N>
bool onlyKnownKeys(const Value& object, const char* const (&known)[N], const std::string& path,
                   std::string* error, const std::string& suffix = "") {
    for (const auto& m : object.members) {
        bool ok = false;
        for (const char* k : known) ok = ok || m.first == k;
        if (!ok) return fail(error, path, "unknown key " + quoted(m.first) + suffix);
    }
    return true;
}

bool takeText(const Value& object, const char* key, const std::string& section,
              std::optional<std::string>* into, std::string* error) {
    const Value* v = object.find(key);
    if (!v) return true;
    if (v->type != Type::String) return wrongType(error, section + "." + key, Type::String, *v);
    *into = v->text;
    return true;
}

bool readChannels(const Value& v, Profile* p, std::string* error) {
    const std::string path = "controller.channels";
    if (v.type != Type::Array) return wrongType(error, path, Type::Array, v);
    if (v.items.size() != kProfileChannels)
        return fail(error, path,
                    std::to_string(v.items.size()) + " entries, exactly 31 needed (channel 1 first)");
    static const char* const kKeys[] = {"A", "T", "BX"};
    std::array<ProfileChannel, kProfileChannels> channels;
    for (std::size_t i = 0; i < kProfileChannels; ++i) {
        const Value& e = v.items[i];
        const std::string at = path + "[" + std::to_string(i) + "]";
        const std::string channel = " (channel " + std::to_string(i + 1) + ")";
        if (e.type != Type::Object) return wrongType(error, at, Type::Object, e);
        if (!onlyKnownKeys(e, kKeys, at, error, channel)) return false;
        bool* bits[] = {&channels[i].a, &channels[i].t, &channels[i].bx};
        for (int k = 0; k < 3; ++k) {
            const Value* b = e.find(kKeys[k]);
            if (!b) return fail(error, at, std::string("missing key \"") + kKeys[k] + "\"" + channel);
            if (b->type != Type::Bool) return wrongType(error, at + "." + kKeys[k], Type::Bool, *b);
            *bits[k] = b->boolean;
        }
    }
    p->channels = channels;
    return true;
}

bool readController(const Value& v, Profile* p, std::string* error) {
    if (v.type != Type::Object) return wrongType(error, "controller", Type::Object, v);
    static const char* const kKeys[] = {"period", "address", "phone1", "phone2", "sms", "channels"};
    if (!onlyKnownKeys(v, kKeys, "controller", error)) return false;
    if (!takeText(v, "period", "controller", &p->period, error) ||
        !takeText(v, "address", "controller", &p->address, error) ||
        !takeText(v, "phone1", "controller", &p->phone1, error) ||
        !takeText(v, "phone2", "controller", &p->phone2, error) ||
        !takeText(v, "sms", "controller", &p->sms, error))
        return false;
    const Value* channels = v.find("channels");
    return !channels || readChannels(*channels, p, error);
}

bool readModem(const Value& v, Profile* p, std::string* error) {
    if (v.type != Type::Object) return wrongType(error, "modem", Type::Object, v);
    static const char* const kKeys[] = {"internet", "ip", "apn", "user", "password"};
    if (!onlyKnownKeys(v, kKeys, "modem", error)) return false;
    if (const Value* internet = v.find("internet")) {
        if (internet->type != Type::Bool) return wrongType(error, "modem.internet", Type::Bool, *internet);
        p->internet = internet->boolean;
    }
    return takeText(v, "ip", "modem", &p->ip, error) && takeText(v, "apn", "modem", &p->apn, error) &&
           takeText(v, "user", "modem", &p->user, error) &&
           takeText(v, "password", "modem", &p->password, error);
}

// What makes a text unusable where its bytes end a line or a string, or nullptr.
const char* badByte(const std::string& text, bool endOfFileToo) {
    for (const char c : text) {
        if (c == '\r' || c == '\n') return "holds a line break";
        if (c == '\0') return "holds a zero byte";
        if (endOfFileToo && c == '\x1A') return "holds the end-of-file byte 0x1A";
    }
    return nullptr;
}

std::string tooLong(std::size_t n, std::size_t limit) {
    return std::to_string(n) + " bytes, at most " + std::to_string(limit) + " fit";
}

// The 1251 form of a present text, or an error; with no converter the UTF-8
// bytes stand in and no limit is checked.
bool encoded(const std::string& text, const ToCodePage1251* toCp1251, const std::string& path,
             std::string* out, std::string* error) {
    if (!toCp1251) {
        *out = text;
        return true;
    }
    if (!(*toCp1251)(text, out))
        return fail(error, path, "holds a character that code page 1251 cannot hold");
    return true;
}

// The rules of the single writes, item by item in file order.
bool checkItems(const Profile& p, const ToCodePage1251* toCp1251, std::string* error) {
    const std::pair<const char*, const std::optional<std::string>*> values[] = {
        {"controller.period", &p.period}, {"controller.address", &p.address}};
    for (const auto& [path, text] : values) {
        if (!*text) continue;
        const std::string& t = **text;
        if (!isValueText(reinterpret_cast<const std::uint8_t*>(t.data()), t.size()))
            return fail(error, path, quoted(t) + " is not three digits");
    }
    const std::pair<const char*, const std::optional<std::string>*> phones[] = {
        {"controller.phone1", &p.phone1}, {"controller.phone2", &p.phone2}, {"controller.sms", &p.sms}};
    for (const auto& [path, text] : phones) {
        if (!*text) continue;
        // The controller ends a number at CR, LF or zero, so it could never read back.
        if (const char* why = badByte(**text, false)) return fail(error, path, why);
        std::string bytes;
        if (!encoded(**text, toCp1251, path, &bytes, error)) return false;
        if (toCp1251 && bytes.size() > kMaxPhoneDigits)
            return fail(error, path, tooLong(bytes.size(), kMaxPhoneDigits));
    }
    if (p.internet == false) return true;  // the without-internet path sends no entry
    const struct {
        const char* path;
        const std::optional<std::string>* text;
        int entry;
    } entries[] = {{"modem.ip", &p.ip, kEntryAddress9},
                   {"modem.apn", &p.apn, kEntryApn},
                   {"modem.user", &p.user, kEntryUser},
                   {"modem.password", &p.password, kEntryPassword}};
    std::size_t total = 0;
    for (const auto& e : entries) {
        if (!*e.text) continue;
        // A line break or 0x1A would end the entry's line in "_data.ini".
        if (const char* why = badByte(**e.text, true)) return fail(error, e.path, why);
        std::string bytes;
        if (!encoded(**e.text, toCp1251, e.path, &bytes, error)) return false;
        const std::size_t limit = fieldTextLimit(e.entry);
        if (toCp1251 && bytes.size() > limit) return fail(error, e.path, tooLong(bytes.size(), limit));
        total += bytes.size();
    }
    // Four lines joined by three LFs must fit the panel's file.
    constexpr std::size_t kTotal = kPanelFileLimit - 3;
    if (toCp1251 && total > kTotal)
        return fail(error, "modem",
                    "the entries together hold " + std::to_string(total) + " bytes, at most " +
                        std::to_string(kTotal) + " fit in \"_data.ini\"");
    return true;
}

void putText(JsonWriter& json, const char* key, const std::optional<std::string>& v) {
    if (v) json.key(key).value(*v);
}

}  // namespace

std::uint8_t channelByte(const ProfileChannel& c) {
    return static_cast<std::uint8_t>((c.a ? kChannelA : 0) | (c.t ? kChannelT : 0) |
                                     (c.bx ? kChannelBx : 0));
}

ProfileChannel channelFromByte(std::uint8_t byte) {
    return {(byte & kChannelA) != 0, (byte & kChannelT) != 0, (byte & kChannelBx) != 0};
}

bool Profile::operator==(const Profile& o) const {
    return period == o.period && address == o.address && phone1 == o.phone1 &&
           phone2 == o.phone2 && sms == o.sms && channels == o.channels &&
           internet == o.internet && ip == o.ip && apn == o.apn && user == o.user &&
           password == o.password;
}

bool parseProfile(const std::string& text, Profile* profile, std::string* error) {
    *profile = Profile{};
    if (text.size() > kMaxProfileBytes)
        return fail(error, "profile", "larger than " + std::to_string(kMaxProfileBytes / 1024) +
                                          " KiB; a profile is a few KiB");
    Value root;
    if (!json_reader::parse(text, &root, error)) return false;
    if (root.type != Type::Object)
        return fail(error, "profile", std::string("expected an object, got ") +
                                          json_reader::typeName(root.type));
    // The format first: a newer file's other keys would only confuse the message.
    const std::string expected = std::string("expected ") + quoted(kProfileFormat);
    const Value* format = root.find("format");
    if (!format) return fail(error, "format", "missing; " + expected);
    if (format->type != Type::String) return wrongType(error, "format", Type::String, *format);
    if (format->text != kProfileFormat)
        return fail(error, "format", quoted(format->text) + " is not supported; " + expected);
    static const char* const kKeys[] = {"format", "controller", "modem"};
    if (!onlyKnownKeys(root, kKeys, "profile", error)) return false;
    if (const Value* c = root.find("controller"); c && !readController(*c, profile, error))
        return false;
    if (const Value* m = root.find("modem"); m && !readModem(*m, profile, error)) return false;
    return checkItems(*profile, nullptr, error);
}

bool validateProfile(const Profile& profile, const ToCodePage1251& toCp1251, std::string* error) {
    return checkItems(profile, &toCp1251, error);
}

std::string writeProfile(const Profile& p) {
    using Layout = JsonWriter::Layout;
    JsonWriter json;
    json.beginObject(Layout::Lines).key("format").value(kProfileFormat);
    if (p.period || p.address || p.phone1 || p.phone2 || p.sms || p.channels) {
        json.key("controller").beginObject(Layout::Lines);
        putText(json, "period", p.period);
        putText(json, "address", p.address);
        putText(json, "phone1", p.phone1);
        putText(json, "phone2", p.phone2);
        putText(json, "sms", p.sms);
        if (p.channels) {
            json.key("channels").beginArray(Layout::Lines);
            for (const ProfileChannel& c : *p.channels)
                json.beginObject().key("A").value(c.a).key("T").value(c.t).key("BX").value(c.bx).endObject();
            json.endArray();
        }
        json.endObject();
    }
    if (p.internet || p.ip || p.apn || p.user || p.password) {
        json.key("modem").beginObject(Layout::Lines);
        if (p.internet) json.key("internet").value(*p.internet);
        putText(json, "ip", p.ip);
        putText(json, "apn", p.apn);
        putText(json, "user", p.user);
        putText(json, "password", p.password);
        json.endObject();
    }
    return json.endObject().text() + "\n";
}

}  // namespace ostrakan
