#include "settings/replace_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrakan {

namespace {

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // disk full, quota, I/O error
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool replaceFile(const char* name, const std::uint8_t* bytes, std::size_t count) {
    char temp[256];
    const int length = snprintf(temp, sizeof temp, "%s.XXXXXX", name);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof temp) return false;
    const int fd = mkstemp(temp);  // same folder, so rename stays one step
    if (fd < 0) return false;
    // 0600 whatever the umask; rename carries the mode over to the new name.
    bool ok = fchmod(fd, S_IRUSR | S_IWUSR) == 0 && writeAll(fd, bytes, count) && fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp, name) == 0;
    if (!ok) {
        ::unlink(temp);
        return false;
    }
    // The new directory entry itself reaches the disk with the folder's own fsync.
    const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)fsync(folder);  // the file is replaced either way
        ::close(folder);
    }
    return true;
}

}  // namespace ostrakan
