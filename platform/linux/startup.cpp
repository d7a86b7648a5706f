// What the start-up modes need from Linux: the arguments, the environment,
// the single-instance lock, the user's private folder, detached processes and
// the self-deletion.
//
// The private folder holds the lock files and the temporary uninstaller. It
// is $XDG_RUNTIME_DIR when that is absolute, owned by the user and mode 0700;
// otherwise vellumo-setup/run in the user's own cache folder, created 0700 and
// checked before each use. Never a name in a shared folder such as /tmp:
// another user could take it first and so switch the guard off.
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

namespace vellumo::platform {
namespace {

namespace fs = std::filesystem;

// A folder that only this user can reach: a real directory (not a link),
// owned by the user, with no permission for anyone else.
bool is_private_folder(const fs::path& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 07777) == 0700;
}

// The user's cache folder, when it is a real directory of the user's own.
fs::path own_cache_folder() {
    const fs::path cache = base_directory("XDG_CACHE_HOME", ".cache");
    if (cache.empty() || !ensure_directory(cache)) return {};
    struct stat info {};
    if (::lstat(cache.c_str(), &info) != 0) return {};
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() ? cache : fs::path();
}

// Empty when there is no folder that only this user can reach: the program
// then runs without the single-instance guard and without the hand-off.
fs::path private_folder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
        const fs::path folder = runtime;
        if (folder.is_absolute() && is_private_folder(folder)) return folder;
    }
    fs::path folder = own_cache_folder();
    if (folder.empty()) return {};
    for (const char* name : {"vellumo-setup", "run"}) {
        folder /= name;
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
        if (!is_private_folder(folder)) return {};
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
bool clear_lock_file_name(const fs::path& folder, const fs::path& file) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return false;
    bool cleared = false;
    if (::flock(dir, LOCK_EX) == 0) {
        struct stat info {};
        if (::lstat(file.c_str(), &info) != 0)
            cleared = errno == ENOENT;
        else if (S_ISREG(info.st_mode))
            cleared = true;
        else if (S_ISDIR(info.st_mode))
            cleared = ::rmdir(file.c_str()) == 0;
        else
            cleared = ::unlink(file.c_str()) == 0;
    }
    ::close(dir);  // and with it the folder's lock
    return cleared;
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
    const fs::path folder = private_folder();
    if (folder.empty()) return InstanceMutex::unavailable;
    const fs::path file = folder / lock_file_name(name);
    // Each round ends, or follows a change at the name that another process made.
    for (int round = 0; round < 8; ++round) {
        const int fd = ::open(file.c_str(),
                              O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        struct stat opened {};
        if (fd < 0 || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            if (fd >= 0) ::close(fd);
            if (!clear_lock_file_name(folder, file)) return InstanceMutex::unavailable;
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
        if (::lstat(file.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino) {
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

fs::path System::temporary_folder() { return private_folder(); }

bool System::start_process(const fs::path& program, std::u16string_view command_line) {
    return spawn_quiet(program, arguments_of(program, command_line), ChildGroup::own_session,
                       program.parent_path()) > 0;
}

bool System::start_delayed_delete(const fs::path& file) {
    // The path is the script's argument, never part of its text: a Linux
    // file name may hold quotes, '$' or backticks.
    return spawn_quiet("/bin/sh", {"sh", "-c", "sleep 2; exec rm -f -- \"$1\"", "sh", file.string()},
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
