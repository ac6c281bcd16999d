#include "serial/unix/port_map.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ostrakan {

bool isDevicePath(const char* name) { return name && std::strchr(name, '/') != nullptr; }

bool devicesDirectory(char* path, std::size_t room) {
    const char* dir = std::getenv("OSTRAKAN_DEVICES");
    int n = 0;
    if (dir && *dir) {
        n = std::snprintf(path, room, "%s", dir);
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return false;
        n = std::snprintf(path, room, "%s/.ostrakan/devices", home);
    }
    return n > 0 && static_cast<std::size_t>(n) < room;
}

bool defaultDeviceOf(int number, char* path, std::size_t room) {
    static const struct {
        const char* prefix;
        int first;
    } kFamilies[] = {{"/dev/ttyS", 1}, {"/dev/ttyUSB", 33}, {"/dev/ttyACM", 65}};
    for (const auto& family : kFamilies) {
        if (number >= family.first && number < family.first + 32) {
            const int n = std::snprintf(path, room, "%s%d", family.prefix, number - family.first);
            return n > 0 && static_cast<std::size_t>(n) < room;
        }
    }
    return false;
}

bool mapPortName(const char* name, char* path, std::size_t room) {
    if (isDevicePath(name)) {
        const int n = std::snprintf(path, room, "%s", name);
        return n > 0 && static_cast<std::size_t>(n) < room;
    }
    if (std::strncmp(name, "COM", 3) != 0) return false;
    // Only the plain spelling names a device: the window's check lets "COM1x",
    // "COM 1" and "COM01" through, and like the system's device namespace we
    // then find nothing to open.
    const char* digits = name + 3;
    if (*digits < '1' || *digits > '9') return false;
    int number = 0;
    for (const char* c = digits; *c; ++c) {
        if (!std::isdigit(static_cast<unsigned char>(*c)) || number > 256) return false;
        number = number * 10 + (*c - '0');
    }
    if (number < 1 || number > 256) return false;

    char dir[kDevicePathRoom];
    if (devicesDirectory(dir, sizeof dir)) {
        const int n = std::snprintf(path, room, "%s/com%d", dir, number);
        struct stat st;
        if (n > 0 && static_cast<std::size_t>(n) < room && ::lstat(path, &st) == 0) return true;
    }
    return defaultDeviceOf(number, path, room);
}

}  // namespace ostrakan
