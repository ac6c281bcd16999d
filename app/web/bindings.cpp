// The core as the browser's Worker sees it (embind). One WebApp is the whole
// program: its window in memory, its line over byte queues, and the host loop the
// Worker drives from performance.now(). Texts cross as code-page-1251 bytes in
// Uint8Arrays; the page converts them at its edge, as the Windows program does.
// The whole-unit profile functions are here too, so the page reads and writes
// the same files as the command-line tool.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/core.h"
#include "app/web/web_host.h"
#include "app/web/web_window.h"
#include "serial/web/web_line.h"
#include "settings/settings_file.h"
#include "settings/web/settings_store.h"
#include "tools/profile/profile.h"

using emscripten::val;

namespace ostrakan {

namespace {

val bytesOf(const std::uint8_t* bytes, std::size_t size) {
    return val::global("Uint8Array").new_(emscripten::typed_memory_view(size, bytes));
}

val bytesOf(const std::string& bytes) {
    return bytesOf(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::vector<std::uint8_t> bytesFrom(const val& array) {
    return emscripten::convertJSArrayToNumberVector<std::uint8_t>(array);
}

bool writeWholeFile(const char* name, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(name, "wb");
    if (!file) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

std::vector<std::uint8_t> readWholeFile(const char* name) {
    std::vector<std::uint8_t> bytes;
    std::FILE* file = std::fopen(name, "rb");
    if (!file) return bytes;
    for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<std::uint8_t>(c));
    std::fclose(file);
    return bytes;
}

// The upper half of code page 1251 (0x98 has no character).
constexpr char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

// UTF-8 to 1251 for the profile's byte limits; false for a character 1251 lacks.
bool utf8To1251(const std::string& utf8, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        unsigned code;
        std::size_t n;
        if (b < 0x80) code = b, n = 1;
        else if ((b & 0xE0) == 0xC0) code = b & 0x1Fu, n = 2;
        else if ((b & 0xF0) == 0xE0) code = b & 0x0Fu, n = 3;
        else return false;  // four-byte characters are none of 1251's
        if (i + n > utf8.size()) return false;
        for (std::size_t k = 1; k < n; ++k) code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
        i += n;
        if (code < 0x80) {
            out->push_back(static_cast<char>(code));
            continue;
        }
        unsigned byte = 0;
        for (unsigned k = 0; k < 128; ++k)
            if (kCp1251High[k] == code && code != 0xFFFD) byte = 0x80 + k;
        if (byte == 0) return false;
        out->push_back(static_cast<char>(byte));
    }
    return true;
}

}  // namespace

class WebApp {
public:
    // `settings`: the bytes of "_data.ini" the page kept, or an empty array.
    WebApp(double startMs, const val& settings)
        : line_(link_), core_(window_, line_, link_), host_(core_, line_, startMs) {
        const std::vector<std::uint8_t> bytes = bytesFrom(settings);
        if (!bytes.empty()) writeWholeFile(kSettingsFileName, bytes);
        else std::remove(kSettingsFileName);
        core_.startUp();
        replacements_ = settingsFileReplacements();
    }

    int controlCount() const { return static_cast<int>(window_.controlCount()); }

    val control(int index) const {
        const HeadlessWindow::Control* c = window_.controlAt(static_cast<std::size_t>(index));
        if (!c) return val::null();
        static const char* const kKinds[] = {"edit", "multiline", "button", "checkbox"};
        val o = val::object();
        o.set("kind", std::string(kKinds[static_cast<int>(c->kind)]));
        o.set("id", c->id);
        o.set("x", c->x);
        o.set("y", c->y);
        o.set("width", c->width);
        o.set("height", c->height);
        o.set("text", bytesOf(reinterpret_cast<const std::uint8_t*>(c->text), c->textLength));
        o.set("check", c->checkState);
        return o;
    }

    bool command(int id, int notification) { return core_.onCommand(id, notification); }
    void type(int index, const val& text) {
        std::vector<std::uint8_t> bytes = bytesFrom(text);
        bytes.push_back(0);
        window_.type(static_cast<std::size_t>(index), reinterpret_cast<const char*>(bytes.data()));
    }

    // ---- the transport ----
    void transportReady(bool ready) { line_.setTransportReady(ready); }
    void receive(const val& bytes, double nowMs) {
        const std::vector<std::uint8_t> chunk = bytesFrom(bytes);
        host_.receive(chunk.data(), chunk.size(), nowMs);
    }
    void lose(double nowMs) { host_.lose(nowMs); }
    bool lineOpen() const { return line_.isOpen(); }
    bool takeCloseRequest() { return line_.takeCloseRequest(); }
    val takeOutgoing() {
        val list = val::array();
        for (const std::string& message : line_.takeOutgoing()) list.call<void>("push", bytesOf(message));
        return list;
    }

    // ---- time ----
    void advance(double nowMs) { host_.advanceTo(nowMs); }
    double nextEventMs() const { return host_.nextEventMs(); }
    double ticks() const { return static_cast<double>(host_.ticks()); }
    // Whether a Read or Write is still under way (the page's profile runner waits for it).
    bool busy() const { return core_.requests.anySet(); }

    // ---- what the page shows ----
    val takeChanges() {
        val list = val::array();
        for (std::size_t index : window_.takeChanged()) {
            const HeadlessWindow::Control* c = window_.controlAt(index);
            val o = val::object();
            o.set("index", static_cast<int>(index));
            o.set("text", bytesOf(reinterpret_cast<const std::uint8_t*>(c->text), c->textLength));
            o.set("check", c->checkState);
            list.call<void>("push", o);
        }
        return list;
    }

    // The bytes of "_data.ini" when it was replaced since the last call, else null.
    val takeSettings() {
        if (settingsFileReplacements() == replacements_) return val::null();
        replacements_ = settingsFileReplacements();
        const std::vector<std::uint8_t> bytes = readWholeFile(kSettingsFileName);
        return bytesOf(bytes.data(), bytes.size());
    }

    // An imported "_data.ini": it becomes the file, and the entries load from it.
    void importSettings(const val& bytes) {
        writeWholeFile(kSettingsFileName, bytesFrom(bytes));
        core_.modemPanel.loadPanel();
    }

private:
    LinkBuffers link_;
    WebWindow window_;
    WebLine line_;
    Core core_;
    WebHost host_;
    std::uint32_t replacements_ = 0;
};

// A profile's text checked as the command-line tool checks it: {profile: the
// canonical text} or {error}.
val checkProfile(const std::string& text) {
    Profile profile;
    std::string error;
    val result = val::object();
    if (!parseProfile(text, &profile, &error) || !validateProfile(profile, utf8To1251, &error)) {
        result.set("error", error);
        return result;
    }
    result.set("profile", writeProfile(profile));
    return result;
}

}  // namespace ostrakan

EMSCRIPTEN_BINDINGS(ostrakan) {
    using namespace emscripten;
    using ostrakan::WebApp;
    class_<WebApp>("WebApp")
        .constructor<double, const val&>()
        .function("controlCount", &WebApp::controlCount)
        .function("control", &WebApp::control)
        .function("command", &WebApp::command)
        .function("type", &WebApp::type)
        .function("transportReady", &WebApp::transportReady)
        .function("receive", &WebApp::receive)
        .function("lose", &WebApp::lose)
        .function("lineOpen", &WebApp::lineOpen)
        .function("takeCloseRequest", &WebApp::takeCloseRequest)
        .function("takeOutgoing", &WebApp::takeOutgoing)
        .function("advance", &WebApp::advance)
        .function("nextEventMs", &WebApp::nextEventMs)
        .function("ticks", &WebApp::ticks)
        .function("busy", &WebApp::busy)
        .function("takeChanges", &WebApp::takeChanges)
        .function("takeSettings", &WebApp::takeSettings)
        .function("importSettings", &WebApp::importSettings);
    function("checkProfile", &ostrakan::checkProfile);
}
