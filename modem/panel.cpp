#include "modem/panel.h"

#include <cstring>

#include "resources/resource.h"
#include "settings/settings_file.h"

namespace ostrakan {

namespace {
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kEndOfFile = 0x1A;
}  // namespace

void ModemPanel::createPanel(Window& parent) {
    const int x = kOriginX;
    const int y = kOriginY;
    fields_.ipAddress->createMultilineEdit(x + 145, y + 140, 200, 22, parent, IDC_IP_ADDRESS);
    fields_.ipAddress->clearSelected();
    fields_.ipAddress->blankControl();
    fields_.ipAddress->selectText();
    TextField* const entries[] = {fields_.apn, fields_.user, fields_.password};
    const int entryIds[] = {IDC_APN, IDC_USER, IDC_PASSWORD};
    for (int i = 0; i < 3; ++i) {
        entries[i]->createEdit(x + 145, y + 162 + 20 * i, 200, 20, parent, entryIds[i]);
        entries[i]->clearSelected();
        entries[i]->blankControl();
        entries[i]->selectBytes();
    }
    parent.createControl(ControlKind::CheckBox, x + 160, y + 270, 160, 20, IDC_WITHOUT_INTERNET,
                         "\xC1\xE5\xE7 \xE8\xED\xF2\xE5\xF0\xED\xE5\xF2\xE0.");  // "Без интернета."
    fields_.queryStatus->createEdit(x + 270, y + 100, 60, 20, parent, IDC_QUERY_STATUS);
    fields_.setupStatus->createEdit(x + 270, y + 240, 60, 20, parent, IDC_SETUP_STATUS);
    parent.createControl(ControlKind::PushButton, x + 155, y + 100, 100, 20, IDC_MODEM_READ, "Read");
    parent.createControl(ControlKind::PushButton, x + 155, y + 240, 100, 20, IDC_MODEM_WRITE, "Write");
    TextField* const all[] = {fields_.ipAddress, fields_.apn, fields_.user,
                              fields_.password, fields_.queryStatus, fields_.setupStatus};
    for (TextField* f : all) parent.setEditFont(f->control(), EditFont::Thin);
    fields_.queryStatus->showBytes("   ");
    fields_.setupStatus->showBytes("   ");
}

bool ModemPanel::joinEntries(std::uint8_t* joined, std::size_t* length) {
    const auto entries = this->entries();
    std::size_t n = 0;
    for (int i = 0; i < 4; ++i) {
        TextField& f = *entries[i];
        f.selectBytes();
        f.readControl();
        const std::size_t len = f.length();
        if (n + len + (i < 3 ? 1 : 0) > kPanelFileLimit) return false;
        if (std::memchr(f.data(), kLf, len) || std::memchr(f.data(), kEndOfFile, len)) return false;
        n += f.copyOut(joined + n);
        if (i < 3) joined[n++] = kLf;
    }
    *length = n;
    return true;
}

PanelSave ModemPanel::savePanel() {
    std::uint8_t joined[kPanelFileLimit] = {};
    std::size_t n = 0;
    if (!joinEntries(joined, &n)) return PanelSave::Refused;
    if (writeSettingsFile(joined, static_cast<std::uint8_t>(n)) != 0) return PanelSave::NotWritten;
    return PanelSave::Saved;
}

void ModemPanel::loadPanel() {
    std::uint8_t data[kSettingsReadSize] = {};
    std::size_t count = 0;
    if (readSettingsFile(data, &count) != 0 || count >= kSettingsReadSize) return;
    // With at most 99 bytes read, every line found here is at most 98 bytes long.
    const auto entries = this->entries();
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        // A line ends at an LF; the fourth may also end at the end of the data.
        const void* lf = std::memchr(data + start, kLf, count - start);
        std::size_t end;
        if (lf) {
            end = static_cast<std::size_t>(static_cast<const std::uint8_t*>(lf) - data);
        } else if (i == 3) {
            end = count;
        } else {
            return;
        }
        entries[i]->showBytes(data + start, end - start);
        start = end + 1;
    }
}

void ModemPanel::clearPanel() {
    for (TextField* f : entries()) f->showBytes("", 0);
}

void ModemPanel::onCheckBoxClick(Window& window) {
    // Leaving the unchecked state empties the entries; returning to it reloads them.
    const int was = stepCheckBox(window, IDC_WITHOUT_INTERNET);
    if (was == Unchecked)
        clearPanel();
    else if (was == Checked)
        loadPanel();
}

}  // namespace ostrakan
