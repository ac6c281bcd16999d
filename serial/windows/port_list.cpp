#include "serial/windows/port_list.h"

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace ostrakan {

namespace {

// The Ports (COM & LPT) device class, {4D36E978-E325-11CE-BFC1-08002BE10318}.
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

const std::atomic<int>* gInterrupted = nullptr;

bool interrupted() { return gInterrupted && gInterrupted->load() != 0; }

std::string narrow(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), n, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(n - 1));
    return text;
}

int comNumber(const std::string& name) { return name.size() > 3 ? std::atoi(name.c_str() + 3) : 0; }

std::string property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD which) {
    wchar_t text[256] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, which, &type, reinterpret_cast<BYTE*>(text),
                                           sizeof text - sizeof text[0], nullptr) ||
        type != REG_SZ)
        return {};
    return narrow(text);
}

// What SetupAPI's Ports class says of each port, by COM name.
struct Identity {
    std::string comName, usbId, maker, product;
};

std::vector<Identity> identities() {
    std::vector<Identity> found;
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return found;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; !interrupted() && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        Identity id;
        // The COM name sits in the device's own key, as PortName.
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            wchar_t name[64] = {};
            DWORD bytes = sizeof name - sizeof name[0];
            DWORD type = 0;
            if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &bytes) ==
                    ERROR_SUCCESS &&
                type == REG_SZ)
                id.comName = narrow(name);
            RegCloseKey(key);
        }
        if (id.comName.empty()) continue;
        wchar_t instance[512] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &device, instance, sizeof instance / sizeof instance[0] - 1, nullptr))
            id.usbId = usbIdOf(narrow(instance));
        id.product = property(set, device, SPDRP_FRIENDLYNAME);
        id.maker = property(set, device, SPDRP_MFG);
        found.push_back(id);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

std::string hexAfter(const std::string& upper, const char* tag) {
    const std::size_t at = upper.find(tag);
    if (at == std::string::npos) return {};
    const std::string hex = upper.substr(at + std::char_traits<char>::length(tag), 4);
    if (hex.size() != 4 || !std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(c) != 0; }))
        return {};
    return hex;
}

}  // namespace

std::string usbIdOf(const std::string& instanceId) {
    std::string upper = instanceId;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string vid = hexAfter(upper, "VID_");
    const std::string pid = hexAfter(upper, "PID_");
    return vid.empty() || pid.empty() ? std::string() : vid + ":" + pid;
}

void stopListingOn(const std::atomic<int>* flag) { gInterrupted = flag; }

bool probeInUse(const std::string& com) {
    const std::string path = "\\\\.\\" + com;
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED;
    CloseHandle(port);
    return false;
}

std::vector<PortInfo> listPorts() {
    std::vector<PortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0; !interrupted(); ++index) {
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
        ports.push_back(port);
    }
    RegCloseKey(key);
    for (const Identity& id : identities()) {
        for (PortInfo& port : ports) {
            if (port.comName != id.comName) continue;
            port.usbId = id.usbId;
            port.maker = id.maker;
            port.product = id.product;
        }
    }
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
