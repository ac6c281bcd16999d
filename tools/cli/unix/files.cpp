#include "tools/cli/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "settings/unix/replace_path.h"

namespace ostrakan::cli {

bool readInputFile(const std::string& path, std::size_t limit, std::string* bytes, std::string* why) {
    // O_NONBLOCK: a FIFO must not hang the open; a regular file ignores it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *why = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) *why = "cannot read " + path + ": " + std::strerror(errno);
    else if (S_ISDIR(st.st_mode)) *why = path + " is a folder, not a file";
    else if (!S_ISREG(st.st_mode)) *why = path + " is a device or other special file, not a regular file";
    else if (static_cast<unsigned long long>(st.st_size) > limit)
        *why = path + " is larger than " + std::to_string(limit) + " bytes";
    ok = ok && why->empty();
    bytes->clear();
    // Read one byte past the limit: a file that grew meanwhile is still refused.
    char chunk[65536];
    while (ok) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *why = "cannot read " + path + ": " + std::strerror(errno);
            ok = false;
        } else if (n == 0) {
            break;
        } else if (bytes->size() + static_cast<std::size_t>(n) > limit) {
            *why = path + " is larger than " + std::to_string(limit) + " bytes";
            ok = false;
        } else {
            bytes->append(chunk, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    if (!ok) bytes->clear();
    return ok;
}

namespace {

// A device or a pipe (-o /dev/stdout) cannot be replaced; it is written to.
bool writeInPlace(const std::string& path, const std::string& bytes, std::string* why) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *why = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *why = "cannot write " + path + ": " + std::strerror(n == 0 ? ENOSPC : errno);
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        *why = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool replaceOutputFile(const std::string& path, const std::string& bytes, std::string* why) {
    // A file replaced keeps its mode; a new one gets what the umask leaves of 0666.
    struct stat st {};
    mode_t mode;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            *why = "cannot write " + path + ": it is a folder";
            return false;
        }
        if (!S_ISREG(st.st_mode)) return writeInPlace(path, bytes, why);
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    int error = 0;
    const ReplaceStage stage =
        replacePath(path.c_str(), reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), mode, &error);
    if (stage == ReplaceStage::Done) return true;
    static const char* const kStages[] = {"", "cannot create a temporary file beside", "cannot write",
                                          "cannot flush", "cannot rename the new file over"};
    *why = std::string(kStages[static_cast<int>(stage)]) + " " + path + ": " + std::strerror(error);
    return false;
}

}  // namespace ostrakan::cli
