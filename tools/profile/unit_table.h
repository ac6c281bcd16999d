// The units table of "provision --units": one row per unit, its port and the
// items that unit gets instead of the profile's (its own address, its phones).
//
// CSV as RFC 4180 has it (comma, double quotes, "" for a quote inside quotes,
// CR LF or LF), UTF-8, with a byte-order mark allowed because spreadsheets on
// Windows write one. The header names "port" first, then any of the profile's
// item paths (controller.period ... modem.password). Other columns (a serial
// number, a site) are carried along for the live table's label and otherwise
// ignored; a column named like an item ("controller.", "modem.") that is none
// is refused, so that a misspelt path cannot silently keep the profile's value.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tools/profile/profile.h"

namespace ostrakan {

// The item paths a table may name, in profile order.
extern const char* const kUnitTableItems[9];

struct UnitRow {
    std::size_t line = 0;             // the file line the row starts on (1-based)
    std::vector<std::string> cells;   // one per header column, UTF-8
};

struct UnitTable {
    std::vector<std::string> header;  // header[0] == "port"
    std::vector<UnitRow> rows;

    // The column of `name`, or -1.
    int column(const std::string& name) const;
    const std::string& port(const UnitRow& row) const { return row.cells[0]; }
};

// Splits and checks the table's shape: header, UTF-8, one cell per column, no
// empty port, no port twice (checkPort, when given, says whether a port name
// is one the tool can open). Rows whose cells are all empty are skipped, as a
// spreadsheet leaves them. On failure *error names the line and column.
using PortCheck = std::function<bool(const std::string& port, std::string* why)>;
bool parseUnitTable(const std::string& text, UnitTable* table, std::string* error,
                    const PortCheck& checkPort = nullptr);

// The profile for one row: each non-empty item cell replaces that item.
Profile unitProfile(const Profile& base, const UnitTable& table, const UnitRow& row);

// Every row's values with the profile's rules (validateProfile), cell by cell so
// that a failure names its line, column and value, then the row's profile as a
// whole (the modem entries' total). Nothing may be sent before this passed.
bool validateUnitTable(const Profile& base, const UnitTable& table, const ToCodePage1251& toCp1251,
                       std::string* error);

// The row's own item values (path, value), passwords left out: for reports and
// logs, which never hold a password.
std::vector<std::pair<std::string, std::string>> unitValues(const UnitTable& table, const UnitRow& row);

}  // namespace ostrakan
