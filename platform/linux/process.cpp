// Processes on Linux: a hidden child process with a time limit, the search of
// the executable path, and the names of the running processes.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/linux/spawn.hpp"
#include "platform/platform.hpp"

namespace vellumo::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

enum class WaitResult { ended, timed_out, lost };

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// A descriptor that becomes readable when process `pid` ends; -1 on kernels
// before 5.3. (glibc 2.36 declares pidfd_open without C linkage.)
int open_pidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// Waits for child `pid` to end, until `deadline`. A pidfd wakes us when it
// ends; without one the child is polled.
WaitResult wait_until(pid_t pid, Clock::time_point deadline, int& status) {
    const Descriptor pidfd(open_pidfd(pid));
    for (;;) {
        const pid_t waited = ::waitpid(pid, &status, WNOHANG);
        if (waited == pid) return WaitResult::ended;
        if (waited < 0 && errno != EINTR) return WaitResult::lost;

        const auto now = Clock::now();
        if (now >= deadline) return WaitResult::timed_out;
        const auto left = std::chrono::ceil<milliseconds>(deadline - now);
        if (pidfd.get() >= 0) {
            pollfd ready{pidfd.get(), POLLIN, 0};
            const auto wait_ms = std::min<std::chrono::milliseconds::rep>(left.count(), INT_MAX);
            ::poll(&ready, 1, static_cast<int>(wait_ms));  // EINTR: look again
        } else {
            std::this_thread::sleep_for(std::min(left, milliseconds(5)));
        }
    }
}

// Whether the process behind `pidfd` ends within `timeout_ms`.
bool ends_within(int pidfd, std::uint32_t timeout_ms) {
    const auto deadline = Clock::now() + milliseconds(timeout_ms);
    for (;;) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        const auto wait_ms = std::clamp<milliseconds::rep>(left.count(), 0, INT_MAX);
        pollfd ready{pidfd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(wait_ms));
        if (polled > 0) return true;
        if (polled == 0 || errno != EINTR) return false;
    }
}

// Whether process `pid` runs the very file `program`.
bool runs_program(pid_t pid, const fs::path& program) {
    std::error_code unknown;  // counts as another program
    return fs::equivalent("/proc/" + std::to_string(pid) + "/exe", program, unknown);
}

// The reaping wait after a kill: the child is sure to end.
void reap(pid_t pid) {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

std::string_view base_name(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The executable file name of process `pid`: from its executable link, else
// from its first argument (kernel threads have neither). Empty when unknown.
std::string executable_name(const std::string& pid) {
    const fs::path folder = fs::path("/proc") / pid;
    std::error_code error;
    std::string target = fs::read_symlink(folder / "exe", error).native();
    if (!error) {
        constexpr std::string_view deleted = " (deleted)";
        if (target.ends_with(deleted)) target.resize(target.size() - deleted.size());
        return std::string(base_name(target));
    }
    std::ifstream cmdline(folder / "cmdline", std::ios::binary);
    std::string first;
    std::getline(cmdline, first, '\0');
    return std::string(base_name(first));
}

}  // namespace

int System::run_hidden(std::u16string_view application, std::u16string_view command_line,
                       std::uint32_t timeout_ms) {
    const fs::path program = path_from_wide(application);
    const pid_t pid =
        spawn_quiet(program, arguments_of(program, command_line), ChildGroup::own_process_group);
    if (pid < 0) return -1;

    int status = 0;
    switch (wait_until(pid, Clock::now() + milliseconds(timeout_ms), status)) {
        case WaitResult::ended:
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        case WaitResult::timed_out:
            ::kill(-pid, SIGKILL);  // with what it started
            ::kill(pid, SIGKILL);   // in case it left its group
            reap(pid);
            return -1;
        case WaitResult::lost:  // reaped elsewhere: nothing to kill or to wait for
            return -1;
    }
    return -1;
}

ProcessWait System::wait_for_program_exit(std::uint32_t id, const fs::path& program,
                                          std::uint32_t timeout_ms) {
    if (id == 0 || id > static_cast<std::uint32_t>(INT_MAX)) return ProcessWait::not_running;
    const pid_t pid = static_cast<pid_t>(id);
    const Descriptor pidfd(open_pidfd(pid));
    if (pidfd.get() < 0) return ProcessWait::not_running;
    // While the held process has not ended, its id is its own: what the
    // check saw was that process, not a later one with the same id.
    const bool same = runs_program(pid, program);
    if (ends_within(pidfd.get(), 0)) return ProcessWait::ended;
    if (!same) return ProcessWait::not_running;
    return ends_within(pidfd.get(), timeout_ms) ? ProcessWait::ended : ProcessWait::timed_out;
}

fs::path System::search_path(std::u16string_view file_name) {
    const std::string name = utf16_to_utf8(file_name);
    const char* search = std::getenv("PATH");
    if (!search || name.empty() || name.find('/') != std::string::npos) return {};

    std::string_view rest = search;
    for (;;) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        // Relative and empty entries name the current folder: never searched.
        if (folder.starts_with('/')) {
            fs::path candidate = fs::path(folder) / name;
            std::error_code error;
            if (fs::exists(candidate, error)) return candidate;
        }
        if (colon == std::string_view::npos) return {};
        rest.remove_prefix(colon + 1);
    }
}

std::optional<std::vector<std::u16string>> System::running_process_names() {
    const std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) return std::nullopt;

    std::vector<std::u16string> names;
    // A failing read ends the walk with the names found so far.
    while (const dirent* entry = ::readdir(proc.get())) {
        const std::string pid = entry->d_name;
        if (!std::ranges::all_of(pid, [](char c) { return c >= '0' && c <= '9'; })) continue;
        const std::string name = executable_name(pid);  // empty: ended meanwhile, or a kernel thread
        if (!name.empty()) names.push_back(utf8_to_utf16(name));
    }
    return names;
}

}  // namespace vellumo::platform
