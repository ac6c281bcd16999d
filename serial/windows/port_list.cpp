#include "serial/windows/port_list.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace ostrakan {

namespace {

std::string narrow(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), n, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(n - 1));
    return text;
}

int comNumber(const std::string& name) { return name.size() > 3 ? std::atoi(name.c_str() + 3) : 0; }

// In use when the system refuses us the exclusive open the tool itself makes.
bool inUse(const std::string& com) {
    const std::string path = "\\\\.\\" + com;
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED;
    CloseHandle(port);
    return false;
}

}  // namespace

std::vector<PortInfo> listPorts() {
    std::vector<PortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        wchar_t data[64];
        DWORD nameLength = sizeof name / sizeof name[0];
        DWORD dataBytes = sizeof data - sizeof data[0];  // room for a terminating zero
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                     &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataBytes / sizeof data[0]] = L'\0';
        PortInfo port;
        port.comName = narrow(data);
        port.path = narrow(name);
        if (port.comName.empty()) continue;
        port.inUse = inUse(port.comName);
        ports.push_back(port);
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return comNumber(a.comName) < comNumber(b.comName); });
    return ports;
}

std::string comNameOf(const std::string& port) {
    if (port.size() > 4 && (port.compare(0, 4, "\\\\.\\") == 0 || port.compare(0, 4, "//./") == 0))
        return port.substr(4);
    return port;
}

}  // namespace ostrakan
