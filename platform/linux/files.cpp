// File moves and the tick count on Linux. The replacing move is rename(2);
// the no-overwrite move is renameat2 with RENAME_NOREPLACE. Write-through is
// an fsync of the moved entry before the move and of its folder after it.
#include "platform/platform.hpp"

#include <fcntl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vellumo::platform {
namespace {

namespace fs = std::filesystem;

// Flushes an entry (a file's data, a folder's entries) to disk. False only
// when the flush itself fails: an entry that cannot be opened (a link, a
// missing file) has nothing of its own to flush, and the move that follows
// reports what is wrong with it.
bool sync_entry(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return true;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

fs::path folder_of(const fs::path& path) {
    fs::path parent = path.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

// Makes a finished move's new and removed names durable. The move has
// happened by now: a failed flush is not turned into a failed move, which
// would send the caller down a path that assumes the names did not change.
void sync_folders(const fs::path& from, const fs::path& to) {
    const fs::path to_folder = folder_of(to);
    const fs::path from_folder = folder_of(from);
    sync_entry(to_folder);
    if (from_folder != to_folder) sync_entry(from_folder);
}

int rename_no_replace(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
#else
    constexpr unsigned rename_noreplace_flag = 1;  // <linux/fs.h>
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to,
                                      rename_noreplace_flag));
#endif
}

// For file systems without RENAME_NOREPLACE: a hard link never overwrites
// either. Folders cannot be linked, so they fail here.
bool link_then_unlink(const char* from, const char* to) {
    if (::link(from, to) != 0) return false;
    if (::unlink(from) == 0) return true;
    ::unlink(to);  // both names would stand for the file: take the new one back
    return false;
}

}  // namespace

bool System::move_file_replacing(const fs::path& from, const fs::path& to) {
    if (!sync_entry(from)) return false;
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    sync_folders(from, to);
    return true;
}

bool System::move_file_no_overwrite(const fs::path& from, const fs::path& to,
                                    bool write_through) {
    if (write_through && !sync_entry(from)) return false;
    if (rename_no_replace(from.c_str(), to.c_str()) != 0) {
        const bool unsupported = errno == EINVAL || errno == ENOSYS;
        if (!unsupported || !link_then_unlink(from.c_str(), to.c_str())) return false;
    }
    if (write_through) sync_folders(from, to);
    return true;
}

std::uint64_t System::tick_count_ms() {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace vellumo::platform
