#include "settings/replace_file.h"
#include "settings/unix/replace_path.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace ostrakan {

namespace {

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) return false;  // disk full, quota, I/O error
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ReplaceStage replacePath(const char* path, const std::uint8_t* bytes, std::size_t count, mode_t mode, int* error) {
    std::string temp = std::string(path) + ".XXXXXX";
    ReplaceStage failed = ReplaceStage::Open;
    const int fd = mkstemp(temp.data());  // same folder, so rename stays one step
    if (fd >= 0) {
        // The mode whatever the umask; rename carries it over to the new name.
        failed = fchmod(fd, mode) != 0            ? ReplaceStage::Open
                 : !writeAll(fd, bytes, count)   ? ReplaceStage::Write
                 : fsync(fd) != 0                ? ReplaceStage::Flush
                                                 : ReplaceStage::Done;
        const int saved = errno;
        if (::close(fd) != 0 && failed == ReplaceStage::Done) failed = ReplaceStage::Flush;
        else errno = saved;
        if (failed == ReplaceStage::Done && ::rename(temp.c_str(), path) != 0) failed = ReplaceStage::Rename;
    }
    if (failed != ReplaceStage::Done) {
        const int saved = errno;
        if (fd >= 0) ::unlink(temp.c_str());
        if (error) *error = saved;
        return failed;
    }
    // The new directory entry itself reaches the disk with the folder's own fsync.
    const std::string name(path);
    const std::size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)fsync(dir);  // the file is replaced either way
        ::close(dir);
    }
    return ReplaceStage::Done;
}

bool replaceFile(const char* name, const std::uint8_t* bytes, std::size_t count) {
    // 0600: the file holds the modem password.
    return replacePath(name, bytes, count, S_IRUSR | S_IWUSR, nullptr) == ReplaceStage::Done;
}

}  // namespace ostrakan
