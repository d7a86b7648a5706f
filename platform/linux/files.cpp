// File moves, links, new files, tree removal and the tick count on Linux. The
// replacing move is rename(2); the no-overwrite move is renameat2 with
// RENAME_NOREPLACE. Write-through is an fsync of the moved entry before the
// move and of its folder after it. A new file is made with O_CREAT | O_EXCL |
// O_NOFOLLOW, so nothing planted at its name, a link least of all, is ever
// written through, and is fsynced before it is closed; in a held folder it is
// made relative to the folder's descriptor. A tree is removed relative to the
// handles of its folders, each opened with O_NOFOLLOW, so a link is unlinked
// and never entered.
#include "platform/platform.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

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

// Writes all of `size` bytes, going on after a short write or a signal.
bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The new file `name` in the folder open as `folder`; with AT_FDCWD, `name`
// is a path.
int create_new(int folder, const char* name, mode_t mode = 0644) {
    return ::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

// Flushes and closes a file being written and keeps it only when everything
// went in and reached the disk.
NewFile finish_new(int fd, bool written, int folder, const char* name) {
    const bool synced = written && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (synced && closed) return NewFile::written;
    ::unlinkat(folder, name, 0);
    return NewFile::not_written;
}

// Copies `source` to the new file `name` in `folder` (as create_new).
NewFile copy_new(const fs::path& source, int folder, const char* name) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return NewFile::not_written;
    // A copy of a program must stay one: the permission bits go with it.
    struct stat info {};
    const mode_t mode = ::fstat(in, &info) == 0 ? info.st_mode & 0777 : 0644;
    const int fd = create_new(folder, name, mode);
    if (fd < 0) {
        ::close(in);
        return NewFile::not_created;
    }
    std::uint8_t buffer[1 << 16];
    bool written = true;
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            written = got == 0;
            break;
        }
        if (!write_all(fd, buffer, static_cast<std::size_t>(got))) {
            written = false;
            break;
        }
    }
    ::close(in);
    return finish_new(fd, written, folder, name);
}

// Whether looking up a path failed with `error` because nothing is there.
bool nothing_there(int error) { return error == ENOENT || error == ENOTDIR; }

// The names in the folder open as `folder`, read before anything is removed
// from it.
std::vector<std::string> entry_names(int folder) {
    std::vector<std::string> names;
    const int listed = ::dup(folder);  // closedir closes its own descriptor
    if (listed < 0) return names;
    DIR* listing = ::fdopendir(listed);
    if (listing == nullptr) {
        ::close(listed);
        return names;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(listing);
    return names;
}

// Removes `name` in the folder open as `folder`: anything but a folder (a link
// to one included) is unlinked; a folder is opened without following a link,
// emptied and removed. True when nothing is left at the name.
bool remove_entry(int folder, const char* name) {
    struct stat info {};
    if (::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return nothing_there(errno);
    if (!S_ISDIR(info.st_mode)) return ::unlinkat(folder, name, 0) == 0 || errno == ENOENT;
    const int inside = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (inside >= 0) {
        for (const std::string& entry : entry_names(inside)) remove_entry(inside, entry.c_str());
        ::close(inside);
    }
    return ::unlinkat(folder, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

}  // namespace

bool System::remove_tree(const fs::path& path) {
    if (!path.has_filename()) return false;
    const fs::path parent = path.parent_path();
    const int folder =
        parent.empty() ? AT_FDCWD : ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder == -1) return nothing_there(errno);
    const bool removed = remove_entry(folder, path.filename().c_str());
    if (folder != AT_FDCWD) ::close(folder);
    return removed;
}

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

FileRemoval System::remove_file(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return nothing_there(errno) ? FileRemoval::absent : FileRemoval::refused;
    if (S_ISDIR(info.st_mode)) return FileRemoval::refused;
    if (::unlink(path.c_str()) == 0) return FileRemoval::removed;
    if (nothing_there(errno)) return FileRemoval::absent;
    return errno == EBUSY || errno == ETXTBSY ? FileRemoval::in_use : FileRemoval::refused;
}

bool System::is_link(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

NewFile System::write_new_file(const fs::path& path, std::span<const std::uint8_t> bytes) {
    const int fd = create_new(AT_FDCWD, path.c_str());
    if (fd < 0) return NewFile::not_created;
    return finish_new(fd, write_all(fd, bytes.data(), bytes.size()), AT_FDCWD, path.c_str());
}

NewFile System::copy_to_new_file(const fs::path& source, const fs::path& path) {
    return copy_new(source, AT_FDCWD, path.c_str());
}

NewFile System::copy_to_new_file_in(const HeldFolder& folder, const fs::path& name,
                                    const fs::path& source) {
    if (folder.handle() < 0) return NewFile::not_created;
    return copy_new(source, folder.handle(), name.c_str());
}

std::uint64_t System::tick_count_ms() {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace vellumo::platform
