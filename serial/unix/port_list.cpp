#include "serial/unix/port_list.h"

#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "serial/unix/port_map.h"

namespace ostrakan {

namespace {

const char* const kFamilies[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "rfcomm"};

std::string firstLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "ttyUSB12" -> family index and number; false for other names.
bool splitTtyName(const std::string& name, int* family, long* number) {
    for (int f = 0; f < static_cast<int>(sizeof kFamilies / sizeof kFamilies[0]); ++f) {
        const std::size_t n = std::strlen(kFamilies[f]);
        if (name.compare(0, n, kFamilies[f]) != 0 || name.size() == n || name.size() > n + 6) continue;
        if (name.find_first_not_of("0123456789", n) != std::string::npos) continue;
        *family = f;
        *number = std::atol(name.c_str() + n);
        return true;
    }
    return false;
}

bool isCharDevice(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// The /dev/serial/by-id link that resolves to `real`.
std::string byIdOf(const std::string& real) {
    std::string found;
    if (DIR* dir = ::opendir("/dev/serial/by-id")) {
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            const std::string link = std::string("/dev/serial/by-id/") + e->d_name;
            if (realPath(link) == real) found = link;
        }
        ::closedir(dir);
    }
    return found;
}

// Walks up from the tty's device in sysfs to the USB device that carries
// idVendor/idProduct and its descriptor strings.
void readUsbIdentity(const std::string& ttyName, PortInfo* port) {
    std::string dir = realPath("/sys/class/tty/" + ttyName + "/device");
    for (int depth = 0; depth < 6 && dir.size() > 5; ++depth) {
        const std::string vendor = firstLine(dir + "/idVendor");
        if (!vendor.empty()) {
            port->usbId = vendor + ":" + firstLine(dir + "/idProduct");
            port->maker = firstLine(dir + "/manufacturer");
            port->product = firstLine(dir + "/product");
            return;
        }
        dir = dir.substr(0, dir.rfind('/'));
    }
}

std::string processName(long pid) {
    std::string name = firstLine("/proc/" + std::to_string(pid) + "/comm");
    return (name.empty() ? std::string("?") : name) + " (pid " + std::to_string(pid) + ")";
}

void addHolder(std::vector<long>* pids, long pid) {
    if (pid != ::getpid() && std::find(pids->begin(), pids->end(), pid) == pids->end()) pids->push_back(pid);
}

}  // namespace

bool uartPresent(const std::string& path) {
    const std::string name = baseName(realPath(path));
    if (name.compare(0, 4, "ttyS") != 0) return true;
    const std::string type = firstLine("/sys/class/tty/" + name + "/type");
    return type.empty() || std::atoi(type.c_str()) != 0;
}

std::string deviceGroup(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return "";
    if (const group* g = ::getgrgid(st.st_gid)) return g->gr_name;
    return std::to_string(st.st_gid);
}

std::string deviceHolders(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return "";
    std::vector<long> pids;
    // "1: FLOCK  ADVISORY  WRITE 812 00:05:123 0 EOF": device of the file system
    // in hex, then the inode.
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        long pid = 0;
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        char kind[16], mode[16], access[16];
        int id = 0;
        if (std::sscanf(line.c_str(), "%d: %15s %15s %15s %ld %x:%x:%lu", &id, kind, mode, access, &pid, &major,
                        &minor, &inode) == 8 &&
            major == ::major(st.st_dev) && minor == ::minor(st.st_dev) && inode == st.st_ino)
            addHolder(&pids, pid);
    }
    // A pseudo-terminal is always held by whoever serves its other side.
    const std::string real = realPath(path);
    if (real.compare(0, 9, "/dev/pts/") != 0) {
        if (DIR* proc = ::opendir("/proc")) {
            while (const dirent* p = ::readdir(proc)) {
                if (p->d_name[0] < '1' || p->d_name[0] > '9') continue;
                const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
                DIR* fds = ::opendir(fdDir.c_str());
                if (!fds) continue;  // another user's process
                while (const dirent* f = ::readdir(fds)) {
                    char target[PATH_MAX];
                    const ssize_t n = ::readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof target - 1);
                    if (n > 0 && real == std::string(target, static_cast<std::size_t>(n))) {
                        addHolder(&pids, std::atol(p->d_name));
                        break;
                    }
                }
                ::closedir(fds);
            }
            ::closedir(proc);
        }
    }
    std::string text;
    for (long pid : pids) text += (text.empty() ? "" : ", ") + processName(pid);
    return text;
}

bool programInstalled(const char* name) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"})
        if (::access((std::string(dir) + name).c_str(), X_OK) == 0) return true;
    return false;
}

void describePort(PortInfo* port) {
    const std::string real = realPath(port->path);
    port->byId = byIdOf(real);
    readUsbIdentity(baseName(real), port);
    port->holders = deviceHolders(port->path);
    port->inUse = !port->holders.empty();
}

std::vector<PortInfo> listPorts() {
    std::vector<PortInfo> ports;
    std::vector<std::string> linked;  // the devices the links reach
    bool overridden[257] = {};
    char dir[kDevicePathRoom];
    if (devicesDirectory(dir, sizeof dir)) {
        for (int n = 1; n <= 256; ++n) {
            const std::string link = std::string(dir) + "/com" + std::to_string(n);
            struct stat st;
            if (::lstat(link.c_str(), &st) != 0) continue;
            overridden[n] = true;
            if (!isCharDevice(link) || !uartPresent(link)) continue;
            PortInfo port;
            port.comName = "COM" + std::to_string(n);
            port.path = link;
            linked.push_back(realPath(link));
            ports.push_back(port);
        }
    }

    struct Found {
        int family;
        long number;
        std::string name;
    };
    std::vector<Found> found;
    if (DIR* ttys = ::opendir("/sys/class/tty")) {
        while (const dirent* e = ::readdir(ttys)) {
            Found f{0, 0, e->d_name};
            if (!splitTtyName(f.name, &f.family, &f.number)) continue;
            const std::string path = "/dev/" + f.name;
            if (!isCharDevice(path) || !uartPresent(path)) continue;
            found.push_back(f);
        }
        ::closedir(ttys);
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.family != b.family ? a.family < b.family : a.number < b.number;
    });
    for (const Found& f : found) {
        const std::string path = "/dev/" + f.name;
        if (std::find(linked.begin(), linked.end(), path) != linked.end()) continue;
        PortInfo port;
        port.path = path;
        char mapped[kDevicePathRoom];
        for (int n = 1; n <= 256 && port.comName.empty(); ++n)
            if (!overridden[n] && defaultDeviceOf(n, mapped, sizeof mapped) && path == mapped)
                port.comName = "COM" + std::to_string(n);
        ports.push_back(port);
    }
    for (PortInfo& port : ports) describePort(&port);
    return ports;
}

}  // namespace ostrakan
