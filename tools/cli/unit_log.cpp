#include "tools/cli/unit_log.h"

#include <cstdio>

#include "tools/json/json_writer.h"
#include "version.h"

namespace ostrakan::cli {

std::string isoUtc(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const long long ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    const long long secs = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
    long long days = secs / 86400 - (secs % 86400 < 0 ? 1 : 0);
    const long long inDay = secs - days * 86400;
    // Days since 1970-01-01 to a civil date (proleptic Gregorian), without
    // gmtime, whose static result the workers would share.
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char text[128];  // room for any year the format could print
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", y, m, d, inDay / 3600,
                  inDay / 60 % 60, inDay % 60, ((ms % 1000) + 1000) % 1000);
    return text;
}

std::string unitLogLine(const UnitLogEntry& e, std::chrono::system_clock::time_point now) {
    JsonWriter json;
    json.beginObject()
        .key("time").value(isoUtc(now))
        .key("tool").value("ostrakan-cli " OSTRAKAN_VERSION)
        .key("port").value(e.port)
        .key("operation").value(e.operation)
        .key("status").value(e.status)
        .key("exit").value(static_cast<long long>(e.exit))
        .key("error");
    if (e.error.empty()) json.null();
    else json.value(e.error);
    json.key("profile_sha256");
    if (e.profileSha256.empty()) json.null();
    else json.value(e.profileSha256);
    json.key("written").beginArray();
    for (const std::string& w : e.written) json.value(w);
    json.endArray().key("differences").beginArray();
    for (const Difference& d : e.differences)
        json.beginObject().key("path").value(d.path).key("profile").value(d.profile).key("unit").value(d.unit).endObject();
    json.endArray().key("values").beginObject();
    for (const auto& [path, value] : e.values)
        if (path != "modem.password") json.key(path).value(value);
    json.endObject().endObject();
    return json.text() + "\n";
}

}  // namespace ostrakan::cli
