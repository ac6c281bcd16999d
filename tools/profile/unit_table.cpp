#include "tools/profile/unit_table.h"

#include <map>

#include "tools/json/json_writer.h"

namespace ostrakan {

const char* const kUnitTableItems[9] = {"controller.period", "controller.address", "controller.phone1",
                                        "controller.phone2", "controller.sms",     "modem.ip",
                                        "modem.apn",         "modem.user",         "modem.password"};

namespace {

std::optional<std::string> Profile::*const kItemMembers[9] = {
    &Profile::period, &Profile::address, &Profile::phone1, &Profile::phone2, &Profile::sms,
    &Profile::ip,     &Profile::apn,     &Profile::user,   &Profile::password};

int itemIndex(const std::string& name) {
    for (int i = 0; i < 9; ++i)
        if (name == kUnitTableItems[i]) return i;
    return -1;
}

std::string at(std::size_t line, std::size_t column) {
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string trimmed(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Whether the bytes are UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isUtf8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned c = p[i];
        std::size_t len = 0;
        unsigned lo = 0x80, hi = 0xBF;
        if (c < 0x80) len = 1;
        else if (c >= 0xC2 && c <= 0xDF) len = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else return false;
        if (n - i < len) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const unsigned b = p[i + k];
            if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return false;
        }
        i += len;
    }
    return true;
}

struct Record {
    std::size_t line;
    std::vector<std::string> cells;
};

// RFC 4180 records; a quote may open a field only at its start, and after the
// closing quote only a comma or the line's end may follow.
bool splitRecords(const std::string& text, std::vector<Record>* records, std::string* error) {
    std::size_t i = 0, line = 1;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
    const std::size_t n = text.size();
    while (i < n) {
        Record r{line, {}};
        for (;;) {
            std::string cell;
            const std::size_t column = r.cells.size() + 1;
            if (i < n && text[i] == '"') {
                const std::size_t opened = line;
                ++i;
                for (;;) {
                    if (i >= n) {
                        *error = at(opened, column) + ": a quoted cell is never closed";
                        return false;
                    }
                    if (text[i] == '"') {
                        if (i + 1 < n && text[i + 1] == '"') {
                            cell += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (text[i] == '\n') ++line;
                    cell += text[i++];
                }
                if (i < n && text[i] != ',' && text[i] != '\n' && !(text[i] == '\r' && i + 1 < n && text[i + 1] == '\n')) {
                    *error = at(line, column) + ": text after a quoted cell's closing quote";
                    return false;
                }
            } else {
                while (i < n && text[i] != ',' && text[i] != '\n' && !(text[i] == '\r' && i + 1 < n && text[i + 1] == '\n')) {
                    if (text[i] == '"') {
                        *error = at(line, column) + ": a quote inside a cell that does not start with one";
                        return false;
                    }
                    cell += text[i++];
                }
            }
            if (!isUtf8(cell)) {
                *error = at(r.line, column) + ": not UTF-8 text (save the table as CSV UTF-8)";
                return false;
            }
            r.cells.push_back(std::move(cell));
            if (i < n && text[i] == ',') {
                ++i;
                continue;
            }
            if (i < n && text[i] == '\r') ++i;
            if (i < n && text[i] == '\n') {
                ++i;
                ++line;
            }
            break;
        }
        records->push_back(std::move(r));
    }
    return true;
}

bool allEmpty(const std::vector<std::string>& cells) {
    for (const std::string& c : cells)
        if (!trimmed(c).empty()) return false;
    return true;
}

}  // namespace

int UnitTable::column(const std::string& name) const {
    for (std::size_t c = 0; c < header.size(); ++c)
        if (header[c] == name) return static_cast<int>(c);
    return -1;
}

bool parseUnitTable(const std::string& text, UnitTable* table, std::string* error, const PortCheck& checkPort) {
    *table = UnitTable{};
    std::vector<Record> records;
    if (!splitRecords(text, &records, error)) return false;
    std::size_t first = 0;
    while (first < records.size() && allEmpty(records[first].cells)) ++first;
    if (first == records.size()) {
        *error = "no header row (port, then the profile items the units get)";
        return false;
    }
    const Record& head = records[first];
    for (std::size_t c = 0; c < head.cells.size(); ++c) {
        const std::string name = trimmed(head.cells[c]);
        const std::string where = at(head.line, c + 1);
        if (c == 0 && name != "port") {
            *error = where + ": the first column must be \"port\", not " + jsonQuoted(name);
            return false;
        }
        if (name.empty()) {
            *error = where + ": a column without a name";
            return false;
        }
        if (table->column(name) >= 0) {
            *error = where + ": " + jsonQuoted(name) + " is named twice";
            return false;
        }
        if (itemIndex(name) < 0 && (name.rfind("controller.", 0) == 0 || name.rfind("modem.", 0) == 0)) {
            *error = where + ": " + jsonQuoted(name) +
                     " is no item a unit can have of its own (controller.period, controller.address, "
                     "controller.phone1, controller.phone2, controller.sms, modem.ip, modem.apn, modem.user, "
                     "modem.password)";
            return false;
        }
        table->header.push_back(name);
    }
    std::map<std::string, std::size_t> seen;  // port -> its line
    for (std::size_t k = first + 1; k < records.size(); ++k) {
        Record& r = records[k];
        if (allEmpty(r.cells)) continue;
        if (r.cells.size() != table->header.size()) {
            *error = "line " + std::to_string(r.line) + ": " + std::to_string(r.cells.size()) + " cells, the header has " +
                     std::to_string(table->header.size());
            return false;
        }
        r.cells[0] = trimmed(r.cells[0]);
        const std::string& port = r.cells[0];
        const std::string where = at(r.line, 1);
        if (port.empty()) {
            *error = where + ": no port";
            return false;
        }
        std::string why;
        if (checkPort && !checkPort(port, &why)) {
            *error = where + ": " + jsonQuoted(port) + ": " + why;
            return false;
        }
        const auto [it, added] = seen.emplace(port, r.line);
        if (!added) {
            *error = where + ": " + jsonQuoted(port) + " is already the port of line " + std::to_string(it->second);
            return false;
        }
        table->rows.push_back(UnitRow{r.line, std::move(r.cells)});
    }
    if (table->rows.empty()) {
        *error = "the table names no unit";
        return false;
    }
    return true;
}

Profile unitProfile(const Profile& base, const UnitTable& table, const UnitRow& row) {
    Profile p = base;
    for (std::size_t c = 1; c < table.header.size(); ++c) {
        const int item = itemIndex(table.header[c]);
        if (item >= 0 && !row.cells[c].empty()) p.*kItemMembers[item] = row.cells[c];
    }
    return p;
}

bool validateUnitTable(const Profile& base, const UnitTable& table, const ToCodePage1251& toCp1251,
                       std::string* error) {
    for (const UnitRow& row : table.rows) {
        for (std::size_t c = 1; c < table.header.size(); ++c) {
            const int item = itemIndex(table.header[c]);
            if (item < 0 || row.cells[c].empty()) continue;
            const std::string& path = table.header[c];
            const bool secret = path == "modem.password";
            const std::string where =
                at(row.line, c + 1) + " (" + path + (secret ? "" : " " + jsonQuoted(row.cells[c])) + "): ";
            if (base.internet == false && path.rfind("modem.", 0) == 0) {
                *error = where + "the profile sets the modem without internet, which sends no entry";
                return false;
            }
            // The item alone, so that the message is about this cell.
            Profile one;
            one.*kItemMembers[item] = row.cells[c];
            std::string why;
            if (!validateProfile(one, toCp1251, &why)) {
                if (why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
                *error = where + why;
                return false;
            }
        }
        std::string why;
        if (!validateProfile(unitProfile(base, table, row), toCp1251, &why)) {
            *error = "line " + std::to_string(row.line) + " (" + row.cells[0] + "): " + why;
            return false;
        }
    }
    return true;
}

std::vector<std::pair<std::string, std::string>> unitValues(const UnitTable& table, const UnitRow& row) {
    std::vector<std::pair<std::string, std::string>> values;
    for (std::size_t c = 1; c < table.header.size(); ++c) {
        const int item = itemIndex(table.header[c]);
        if (item < 0 || row.cells[c].empty() || table.header[c] == "modem.password") continue;
        values.emplace_back(table.header[c], row.cells[c]);
    }
    return values;
}

}  // namespace ostrakan
