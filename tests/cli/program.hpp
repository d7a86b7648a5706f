// Running the built program as a process for one test. A ProgramWorld is a
// hermetic environment (HOME, every XDG_* variable, TMPDIR) with a sandbox
// folder and a working folder; the program's children inherit exactly that,
// without a display, with PATH limited to the system folders.
//
//   ProgramWorld world;
//   const Run run = world.run(setup_program(), {"--check"});
//   EXPECT_EQ(run.exit_code, 0);
//   EXPECT_TRUE(fs::exists(world.sandbox() / "check.json"));
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/product_info.hpp"
#include "unit/hermetic_env.hpp"

namespace vellumo::test {

namespace fs = std::filesystem;

inline fs::path setup_program() { return VELLUMO_SETUP_PATH; }
inline fs::path damaged_pack_program() { return VELLUMO_SETUP_DAMAGED_PATH; }

inline std::optional<std::string> read_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_text(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

// Polls `condition` until it holds or `limit` has passed; its last answer.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The /proc folders of the processes other than this one that have `text`
// in their command line.
inline std::vector<fs::path> processes_mentioning(const std::string& text) {
    std::vector<fs::path> found;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        if (name == std::to_string(::getpid())) continue;
        const auto command_line = read_text(entry.path() / "cmdline");
        if (command_line && command_line->find(text) != std::string::npos)
            found.push_back(entry.path());
    }
    return found;
}

// Whether any process other than this one has `text` in its command line:
// a self-deletion that was started is still sleeping for two seconds.
inline bool process_mentions(const std::string& text) { return !processes_mentioning(text).empty(); }

// The temporary uninstaller copies in `folder`.
inline std::vector<fs::path> uninstaller_copies(const fs::path& folder) {
    std::vector<fs::path> copies;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored))
        if (entry.path().filename().string().starts_with("VellumoUninstall-"))
            copies.push_back(entry.path());
    return copies;
}

struct Run {
    int exit_code = -1;  // -1: did not exit normally
    pid_t pid = -1;
    std::string out;
    std::string err;
};

class ProgramWorld {
public:
    ProgramWorld() {
        fs::create_directories(sandbox());
        fs::create_directories(work());
        fs::create_directories(tmp());
        env_.set("TMPDIR", tmp());
    }

    HermeticEnv& env() { return env_; }
    const fs::path& root() const { return env_.root(); }
    // Non-ASCII on purpose: paths travel into JSON as UTF-8.
    fs::path sandbox() const { return root() / "sandbox Ünï"; }
    fs::path work() const { return root() / "work"; }
    fs::path tmp() const { return root() / "tmp"; }
    fs::path runtime() const { return root() / "runtime"; }
    fs::path install_folder() const {
        return sandbox() / "Local" / "Programs" / "Vellumo for DaVinci Resolve";
    }
    // The folder the programs start in: work() unless another is given.
    void start_in(const fs::path& folder) { current_folder_ = folder; }

    Run run(const fs::path& program, const std::vector<std::string>& arguments) {
        return run_as(program, arguments, sandbox().string());
    }

    // With VELLUMO_SETUP_SANDBOX set to `sandbox_value` or unset, and argument 0
    // `argv0` instead of the program's path.
    Run run_as(const fs::path& program, const std::vector<std::string>& arguments,
               const std::optional<std::string>& sandbox_value,
               const std::optional<std::string>& argv0 = std::nullopt) {
        return finish(start_as(program, arguments, sandbox_value, argv0));
    }

    // A program started by start, not yet waited for.
    struct Started {
        pid_t pid = -1;
        fs::path out_file;
        fs::path err_file;
    };

    // As run, without waiting: several programs at once. finish waits.
    Started start(const fs::path& program, const std::vector<std::string>& arguments) {
        return start_as(program, arguments, sandbox().string());
    }

    Started start_as(const fs::path& program, const std::vector<std::string>& arguments,
                     const std::optional<std::string>& sandbox_value,
                     const std::optional<std::string>& argv0 = std::nullopt) {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const std::string name = text.substr(0, text.find('='));
            if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "PATH" ||
                name == "VELLUMO_SETUP_SANDBOX")
                continue;
            environment.push_back(text);
        }
        environment.push_back("PATH=/usr/bin:/bin");
        if (sandbox_value) environment.push_back("VELLUMO_SETUP_SANDBOX=" + *sandbox_value);

        std::vector<std::string> argv_text{argv0.value_or(program.string())};
        argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());

        Started started;
        started.out_file = root() / ("run-" + std::to_string(runs_) + ".out");
        started.err_file = root() / ("run-" + std::to_string(runs_) + ".err");
        ++runs_;
        started.pid = spawn(program, argv_text, environment, started.out_file, started.err_file);
        return started;
    }

    Run finish(const Started& started) {
        Run result;
        result.pid = started.pid;
        result.exit_code = wait_for(started.pid);
        result.out = read_text(started.out_file).value_or("");
        result.err = read_text(started.err_file).value_or("");
        return result;
    }

private:
    static std::vector<char*> pointers(std::vector<std::string>& texts) {
        std::vector<char*> result;
        for (std::string& text : texts) result.push_back(text.data());
        result.push_back(nullptr);
        return result;
    }

    pid_t spawn(const fs::path& program, std::vector<std::string> argv,
                std::vector<std::string> environment, const fs::path& out_file,
                const fs::path& err_file) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addchdir_np(&actions, current_folder_.c_str());
        std::vector<char*> argv_pointers = pointers(argv);
        std::vector<char*> env_pointers = pointers(environment);
        pid_t pid = -1;
        const int error = ::posix_spawn(&pid, program.c_str(), &actions, nullptr,
                                        argv_pointers.data(), env_pointers.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) throw std::runtime_error("cannot start " + program.string());
        return pid;
    }

    // The exit code; the process is killed when it runs for over a minute.
    static int wait_for(pid_t pid) {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    HermeticEnv env_;
    fs::path current_folder_ = work();
    int runs_ = 0;
};

}  // namespace vellumo::test
