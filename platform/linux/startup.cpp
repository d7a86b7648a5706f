// What the start-up modes need from Linux: the arguments, the environment,
// the single-instance lock, the user's private folder, detached processes and
// the self-deletion.
//
// The private folder holds the lock files and the temporary uninstaller. It
// is $XDG_RUNTIME_DIR when that is absolute, owned by the user and mode 0700;
// otherwise vellumo-setup/run in the user's own cache folder, created 0700.
// Never a name in a shared folder such as /tmp: another user could take it
// first and so switch the guard off. The cache folder may be carelessly open
// to others, who could exchange the folders below it for their own between a
// check and a use: each folder is opened once, without following a link,
// checked on that handle, and every later step goes through the handle.
#include "platform/linux/base_directories.hpp"
#include "platform/linux/spawn.hpp"
#include "platform/platform.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace vellumo::platform {
namespace {

namespace fs = std::filesystem;

constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// What a folder must be: the user's own; and, for the folders that the
// program makes, one that nobody else can reach.
enum class Owned { by_user, privately };

// The folder open as `fd` (or not, -1), held when it is what `owned` asks on
// that handle, else closed.
HeldFolder held_if(fs::path folder, int fd, Owned owned) {
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
        (owned == Owned::by_user || (info.st_mode & 07777) == 0700))
        return HeldFolder(std::move(folder), fd);
    if (fd >= 0) ::close(fd);
    return {};
}

// The folder `name` in `parent` (made when missing), opened without following
// a link and private to the user; empty otherwise.
HeldFolder own_folder_in(const HeldFolder& parent, const char* name) {
    if (::mkdirat(parent.handle(), name, 0700) != 0 && errno != EEXIST) return {};
    return held_if(parent.path() / name, ::openat(parent.handle(), name, folder_flags | O_NOFOLLOW),
                   Owned::privately);
}

// Empty when there is no folder that only this user can reach: the program
// then runs without the single-instance guard and without the hand-off.
HeldFolder open_private_folder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
        const fs::path folder = runtime;
        if (folder.is_absolute()) {
            HeldFolder held =
                held_if(folder, ::open(runtime, folder_flags | O_NOFOLLOW), Owned::privately);
            if (!held.empty()) return held;
        }
    }
    // A link at the cache folder itself is the user's own layout (another
    // disk, a tmpfs): followed, as long as it leads to a folder of the user's.
    const fs::path cache = base_directory("XDG_CACHE_HOME", ".cache");
    if (cache.empty() || !ensure_directory(cache)) return {};
    HeldFolder folder = held_if(cache, ::open(cache.c_str(), folder_flags), Owned::by_user);
    for (const char* name : {"vellumo-setup", "run"}) {
        if (folder.empty()) return {};
        folder = own_folder_in(folder, name);
    }
    return folder;
}

// A file name for a mutex name: letters, digits, '-' and '.' stay, every
// other byte of its UTF-8 text becomes '_' and two hex digits, so that two
// names never share a file. The "Local\" namespace is the folder itself.
std::string lock_file_name(std::u16string_view mutex_name) {
    constexpr std::u16string_view local_namespace = u"Local\\";
    if (mutex_name.starts_with(local_namespace)) mutex_name.remove_prefix(local_namespace.size());
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string name;
    for (const char c : utf16_to_utf8(mutex_name)) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.';
        if (plain) {
            name += c;
        } else {
            name += '_';
            name += hex[byte >> 4];
            name += hex[byte & 0x0F];
        }
    }
    return name + ".lock";
}

// The descriptor whose lock is the mutex; -1 while none is held.
int instance_lock_fd = -1;

// Removes what stands at the lock file's name when it is not a regular file (a
// link, an empty folder, a fifo), so that our own file can take its place and
// a planted link cannot switch the guard off. The private folder is locked
// meanwhile and the name looked at again under that lock: a regular file put
// there by another instance since is its lock file and stays. False when the
// thing cannot be removed.
bool clear_lock_file_name(const HeldFolder& folder, const char* name) {
    if (::flock(folder.handle(), LOCK_EX) != 0) return false;
    bool cleared = false;
    struct stat info {};
    if (::fstatat(folder.handle(), name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        cleared = errno == ENOENT;
    else if (S_ISREG(info.st_mode))
        cleared = true;
    else
        cleared = ::unlinkat(folder.handle(), name, S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) == 0;
    ::flock(folder.handle(), LOCK_UN);
    return cleared;
}

// Whether `file` lies in `folder`: its parent is that very folder, whatever
// names lead to either.
bool lies_in(const HeldFolder& folder, const fs::path& file) {
    struct stat held {};
    struct stat parent {};
    return ::fstat(folder.handle(), &held) == 0 &&
           ::stat(file.parent_path().c_str(), &parent) == 0 && held.st_dev == parent.st_dev &&
           held.st_ino == parent.st_ino;
}

// The file `name` in the held folder, reached through its descriptor: the
// kernel resolves /proc/self/fd/N to the folder itself, not to its name.
fs::path through_handle(const HeldFolder& folder, const fs::path& name) {
    return fs::path("/proc/self/fd") / std::to_string(folder.handle()) / name;
}

}  // namespace

void System::enter_com_apartment() {}

void System::leave_com_apartment() {}

std::vector<std::u16string> System::command_line_arguments() {
    // The process's own argv, as the kernel keeps it: each argument ends in a
    // null byte, so an empty argument is kept too.
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    if (!file) return {};
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<std::u16string> arguments;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        arguments.push_back(utf8_to_utf16(std::string_view(text).substr(start, end - start)));
        start = end + 1;
    }
    return arguments;
}

fs::path System::environment_path(std::u16string_view name) {
    const char* value = std::getenv(utf16_to_utf8(name).c_str());
    return value ? fs::path(value) : fs::path();
}

InstanceMutex System::create_instance_mutex(std::u16string_view name) {
    if (instance_lock_fd >= 0) return InstanceMutex::created;
    const HeldFolder folder = open_private_folder();
    if (folder.empty()) return InstanceMutex::unavailable;
    const std::string file = lock_file_name(name);
    // Each round ends, or follows a change at the name that another process made.
    for (int round = 0; round < 8; ++round) {
        const int fd =
            ::openat(folder.handle(), file.c_str(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        struct stat opened {};
        if (fd < 0 || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            if (fd >= 0) ::close(fd);
            if (!clear_lock_file_name(folder, file.c_str())) return InstanceMutex::unavailable;
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool held_elsewhere = errno == EWOULDBLOCK;
            ::close(fd);
            return held_elsewhere ? InstanceMutex::already_exists : InstanceMutex::unavailable;
        }
        // Locked, but only the file still at the name is the guard: another
        // lock on a file removed meanwhile would let two instances run.
        struct stat named {};
        if (::fstatat(folder.handle(), file.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
            instance_lock_fd = fd;
            return InstanceMutex::created;
        }
        ::close(fd);
    }
    return InstanceMutex::unavailable;
}

void System::release_instance_mutex() {
    if (instance_lock_fd < 0) return;
    ::close(instance_lock_fd);  // the lock goes with the last descriptor
    instance_lock_fd = -1;
}

std::uint32_t System::current_process_id() { return static_cast<std::uint32_t>(::getpid()); }

HeldFolder::~HeldFolder() {
    if (handle_ >= 0) ::close(handle_);
}

fs::path System::temporary_folder() { return open_private_folder().path(); }

HeldFolder System::open_temporary_folder() { return open_private_folder(); }

bool System::remove_file_in(const HeldFolder& folder, const fs::path& name) {
    // The folder is private: nobody else can put anything at the name between
    // the look and the removal.
    struct stat info {};
    return folder.handle() >= 0 &&
           ::fstatat(folder.handle(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(info.st_mode) && ::unlinkat(folder.handle(), name.c_str(), 0) == 0;
}

bool System::start_process(const HeldFolder& folder, const fs::path& name,
                           std::u16string_view command_line, const fs::path& working_folder) {
    if (folder.handle() < 0) return false;
    const fs::path program = through_handle(folder, name);
    return spawn_quiet(program, arguments_of(program, command_line), ChildGroup::own_session,
                       working_folder, folder.handle()) > 0;
}

bool System::start_delayed_delete(const fs::path& file) {
    // The path is the script's argument, never part of its text: a Linux
    // file name may hold quotes, '$' or backticks. In the private folder the
    // shell holds that folder as its current one and removes the name there.
    const char* script = "sleep 2; exec rm -f -- \"$1\"";
    const HeldFolder folder = open_private_folder();
    if (!folder.empty() && lies_in(folder, file))
        return spawn_quiet("/bin/sh", {"sh", "-c", script, "sh", file.filename().string()},
                           ChildGroup::own_session, {}, folder.handle()) > 0;
    return spawn_quiet("/bin/sh", {"sh", "-c", script, "sh", file.string()},
                       ChildGroup::own_session) > 0;
}

void System::open_with_default_handler(std::u16string_view target,
                                       const fs::path& working_folder) {
    // The shell leaves xdg-open running on its own and ends at once, so it
    // can be reaped here: nothing lingers as a zombie while the window runs.
    // Target and folder are arguments, never part of the script's text.
    const pid_t shell = spawn_quiet(
        "/bin/sh",
        {"sh", "-c", "[ -z \"$2\" ] || cd -- \"$2\" 2>/dev/null; xdg-open \"$1\" &", "sh",
         utf16_to_utf8(target), working_folder.string()},
        ChildGroup::own_session);
    if (shell > 0) ::waitpid(shell, nullptr, 0);
}

}  // namespace vellumo::platform
