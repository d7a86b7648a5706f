// Programs for the process and detection tests: small shell scripts with a
// chosen behaviour, and a harmless program started under a chosen file name.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern char** environ;

namespace vellumo::test {

// Writes a file that may be executed.
inline void write_executable(const std::filesystem::path& file, const std::string& content) {
    namespace fs = std::filesystem;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

// Writes an executable shell script.
inline void write_script(const std::filesystem::path& file, const std::string& body) {
    write_executable(file, "#!/bin/sh\n" + body + "\n");
}

inline std::string read_text(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Whether `pid` is a live process (a zombie no longer runs).
inline bool process_alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const std::size_t close = line.rfind(')');  // the name may hold anything
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// Whether `pid` stops running within a few seconds. A process that is not our
// child dies asynchronously after a kill, so a check right away can race it.
inline bool process_ends(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        if (!process_alive(pid)) return true;
        ::usleep(10000);
    }
    return false;
}

// Whether this test process has a child left, running or waiting to be reaped.
inline bool has_children() {
    int status;
    return ::waitpid(-1, &status, WNOHANG) != -1 || errno != ECHILD;
}

// A copy of /bin/sleep under `file`, running until the object goes; then it is
// killed and reaped.
class BackgroundProgram {
public:
    explicit BackgroundProgram(const std::filesystem::path& file) {
        std::filesystem::create_directories(file.parent_path());
        std::filesystem::copy_file("/bin/sleep", file,
                                   std::filesystem::copy_options::overwrite_existing);
        std::string name = file.filename().string(), seconds = "600";
        char* argv[] = {name.data(), seconds.data(), nullptr};
        // posix_spawn returns once the program runs in the child.
        if (::posix_spawn(&pid_, file.c_str(), nullptr, nullptr, argv, environ) != 0) {
            pid_ = -1;
            ADD_FAILURE() << "could not start " << file;
        }
    }
    ~BackgroundProgram() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status;
        ::waitpid(pid_, &status, 0);
    }
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

private:
    pid_t pid_ = -1;
};

}  // namespace vellumo::test
