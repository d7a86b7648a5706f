// Reading a file on Linux, only when it is a regular file: a fifo at its name
// would block an ordinary open, and a device or a link is nothing of ours.
#include "platform/platform.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vellumo::platform {
namespace {

// The rest of an open file, in chunks; nothing past `limit` or after a failed read.
std::optional<std::string> read_all(int fd, std::size_t limit) {
    std::string bytes;
    char chunk[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) return bytes;
        if (bytes.size() + static_cast<std::size_t>(got) > limit) return std::nullopt;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace

std::optional<std::string> System::read_regular_file(const std::filesystem::path& path,
                                                     std::size_t limit) {
    // O_NONBLOCK makes the open of a fifo return at once; fstat then refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> bytes;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) bytes = read_all(fd, limit);
    ::close(fd);
    return bytes;
}

}  // namespace vellumo::platform
