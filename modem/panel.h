// The modem panel: four entries (IP Address, APN, User, Password), two status
// fields, the "Без интернета." check box and the modem Read/Write buttons. The
// entries are kept in "_data.ini" between runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "app/window.h"
#include "fields/text_field.h"

namespace ostrakan {

struct ModemFields {
    TextField* ipAddress = nullptr;
    TextField* apn = nullptr;
    TextField* user = nullptr;
    TextField* password = nullptr;
    TextField* queryStatus = nullptr;
    TextField* setupStatus = nullptr;
};

enum class PanelSave : std::uint8_t {
    Saved,
    Refused,     // the entries would not load back as they are; the file is untouched
    NotWritten,  // the file system failed the write (read-only folder, disk full);
                 // the old file is unchanged
};

// What "_data.ini" can hold: four lines joined by LF, at most 99 bytes, so that
// loadPanel takes them back unchanged.
constexpr std::size_t kPanelFileLimit = 99;

class ModemPanel {
public:
    static constexpr int kOriginX = 450;
    static constexpr int kOriginY = 400;

    void bind(const ModemFields& fields) { fields_ = fields; }
    const ModemFields& fields() const { return fields_; }

    // Creates the panel's controls on the parent; the captions are painted by the window.
    void createPanel(Window& parent);

    // Reads the four entries from their controls and writes the settings file.
    // Refused (file untouched) when the texts could not be loaded back as they
    // are: over 99 bytes together, or holding an LF or a 0x1A byte.
    PanelSave savePanel();
    // Fills the four entries from the settings file; a missing, oversized or
    // short file leaves the entries it does not cover unchanged.
    void loadPanel();
    void clearPanel();

    // A click on "Без интернета.": checked -> clear it and reload; clear -> check it and empty.
    void onCheckBoxClick(Window& window);

    // Joins the four entries as they are now in their controls into `joined`
    // (kPanelFileLimit bytes of room). False if they do not fit the file.
    bool joinEntries(std::uint8_t* joined, std::size_t* length);

private:
    // The four entries in file order: IP Address, APN, User, Password.
    std::array<TextField*, 4> entries() const {
        return {fields_.ipAddress, fields_.apn, fields_.user, fields_.password};
    }

    ModemFields fields_;
};

}  // namespace ostrakan
