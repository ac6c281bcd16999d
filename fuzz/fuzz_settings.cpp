// The settings file: "_data.ini" holding arbitrary bytes, read by readSettingsFile
// and by the modem panel's loadPanel, and entry sets saved by savePanel.
//
// Input: the file's bytes. Checked:
// - readSettingsFile returns the file with CR LF read as LF, cut at a 0x1A byte
//   and at 100 bytes;
// - loadPanel fills a prefix of the four entries with the file's lines, each
//   bounded, and nothing when the file is too long;
// - what savePanel accepts loads back byte for byte, both the entries just loaded
//   and four entries typed from the input's zero-separated pieces; what it refuses
//   leaves the file as it was.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "app/headless_window.h"
#include "modem/panel.h"
#include "settings/settings_file.h"

using namespace ostrakan;

namespace {

// Longer than any line the file can give, so an entry the load left alone shows.
const std::string kUntouched(200, 'u');

struct PanelWorld {
    HeadlessWindow window;
    TextField fields[6];
    ModemPanel panel;
    PanelWorld() {
        panel.bind(ModemFields{&fields[0], &fields[1], &fields[2], &fields[3], &fields[4],
                               &fields[5]});
        panel.createPanel(window);
    }
    TextField& entry(int i) { return fields[i]; }
    std::string bytesOf(int i) {
        return std::string(reinterpret_cast<const char*>(entry(i).data()), entry(i).length());
    }
    void mark() {
        for (int i = 0; i < 4; ++i) entry(i).showBytes(kUntouched.data(), kUntouched.size());
    }
};

PanelWorld* worlds[2];
std::string onDisk;  // what the file holds: the input, or what the last save wrote

void putFile(const std::string& bytes) {
    std::FILE* f = std::fopen(kSettingsFileName, "wb");
    CHECK(f);
    CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    std::fclose(f);
    onDisk = bytes;
}

std::string fileBytes() {
    std::string s;
    std::FILE* f = std::fopen(kSettingsFileName, "rb");
    CHECK(f);
    char chunk[512];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) s.append(chunk, n);
    std::fclose(f);
    return s;
}

// What a Windows text-mode read of 100 bytes gives.
std::string textModeRead(const std::string& disk) {
    std::string out;
    for (std::size_t i = 0; i < disk.size() && out.size() < kSettingsReadSize; ++i) {
        if (disk[i] == '\x1A') break;
        if (disk[i] == '\r' && i + 1 < disk.size() && disk[i + 1] == '\n') ++i;
        out += disk[i];
    }
    return out;
}

std::string textModeWrite(const std::string& data) {
    std::string out;
    for (char c : data) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// Saves the entries now in w's controls. If accepted, the file is what a text-mode
// write of the joined entries gives and loads back the same entries into the other
// world; if refused, the file is unchanged.
void saveAndLoadBack(PanelWorld& w, PanelWorld& other) {
    std::string typed[4];
    for (int i = 0; i < 4; ++i) {
        const TextField& f = w.entry(i);
        typed[i] = w.window.textOf(f.control());
    }
    const PanelSave result = w.panel.savePanel();
    CHECK(result != PanelSave::NotWritten);  // its own folder: the file system never fails here
    const bool saved = result == PanelSave::Saved;
    // savePanel reads the controls back, at most 254 bytes each.
    std::string joined;
    bool fits = true;
    for (int i = 0; i < 4; ++i) {
        std::string& e = typed[i];
        if (e.size() > TextField::kByteCapacity - 1) e.resize(TextField::kByteCapacity - 1);
        if (e.find('\n') != std::string::npos || e.find('\x1A') != std::string::npos) fits = false;
        joined += e;
        if (i < 3) joined += '\n';
    }
    if (joined.size() > kPanelFileLimit) fits = false;
    CHECK(saved == fits);
    if (!saved) {
        CHECK(fileBytes() == onDisk);
        return;
    }
    onDisk = textModeWrite(joined);
    CHECK(fileBytes() == onDisk);
    other.mark();
    other.panel.loadPanel();
    for (int i = 0; i < 4; ++i) CHECK(w.bytesOf(i) == typed[i] && other.bytesOf(i) == typed[i]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // "_data.ini" is a relative name: work in a private folder.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    static char dir[64];
    std::snprintf(dir, sizeof dir, "%s/ostrakan-fuzz-XXXXXX", base);
    if (!mkdtemp(dir) || chdir(dir) != 0) {
        std::perror("fuzz_settings: working folder");
        std::abort();
    }
    worlds[0] = new PanelWorld;
    worlds[1] = new PanelWorld;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string disk(reinterpret_cast<const char*>(data), size);
    PanelWorld& w = *worlds[0];

    // The primitive.
    putFile(disk);
    std::uint8_t buffer[kSettingsReadSize];
    std::size_t count = 12345;
    CHECK(readSettingsFile(buffer, &count) == 0);
    CHECK(count <= kSettingsReadSize);
    const std::string read(reinterpret_cast<const char*>(buffer), count);
    CHECK(read == textModeRead(disk));

    // The panel's load: the first k entries are the file's first k lines.
    w.mark();
    w.panel.loadPanel();
    int k = 0;
    while (k < 4 && w.bytesOf(k) != kUntouched) ++k;
    for (int i = k; i < 4; ++i) CHECK(w.bytesOf(i) == kUntouched);
    if (count >= kSettingsReadSize) CHECK(k == 0);
    std::string prefix;
    for (int i = 0; i < k; ++i) {
        const std::string e = w.bytesOf(i);
        CHECK(e.size() <= kPanelFileLimit - 1);
        CHECK(e.find('\n') == std::string::npos);
        CHECK(w.entry(i).byteMode());
        prefix += e;
        if (i < 3) prefix += '\n';
    }
    CHECK(read.compare(0, prefix.size(), prefix) == 0);
    if (count < kSettingsReadSize) {
        const std::size_t breaks = static_cast<std::size_t>(std::count(read.begin(), read.end(), '\n'));
        // Each line break closes an entry; after three the rest is the fourth.
        CHECK(k == (breaks >= 3 ? 4 : static_cast<int>(breaks)));
    }

    // The loaded entries saved again (a lone CR in a line shows as a bullet).
    saveAndLoadBack(w, *worlds[1]);

    // Four entries typed from the input's zero-separated pieces.
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t zero = std::min(disk.find('\0', start), disk.size());
        const std::string piece = start < disk.size() ? disk.substr(start, zero - start) : "";
        w.window.typeInto(w.entry(i).control(), piece.c_str());
        start = zero + 1;
    }
    saveAndLoadBack(w, *worlds[1]);
    return 0;
}
