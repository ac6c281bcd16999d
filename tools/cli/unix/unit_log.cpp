#include "tools/cli/unit_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ostrakan::cli {

UnitLogFile::~UnitLogFile() {
    if (handle_ != kClosed) ::close(static_cast<int>(handle_));
}

bool UnitLogFile::open(const std::string& path, std::string* why) {
    // O_APPEND: the kernel puts each write at the end as one piece, so the lines
    // of runs writing at once never interleave.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *why = "not a regular file";
        return false;
    }
    handle_ = fd;
    return true;
}

bool UnitLogFile::append(const std::string& line, std::string* why) {
    const int fd = static_cast<int>(handle_);
    ssize_t n;
    do n = ::write(fd, line.data(), line.size());
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        *why = std::strerror(errno);
        return false;
    }
    if (static_cast<std::size_t>(n) != line.size()) {
        *why = "the line was cut short (disk full?)";
        return false;
    }
    if (::fdatasync(fd) != 0 && errno != EINVAL) {
        *why = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace ostrakan::cli
