// A harmless program (a copy of sleep) running under a name of the test's
// choosing, for the checks that look for running processes. Killed and reaped
// when the object goes.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

extern "C" char** environ;

namespace vellumo::test {

class RunningProgram {
public:
    // Copies /bin/sleep to folder/name and starts it.
    RunningProgram(const std::filesystem::path& folder, const std::string& name) {
        namespace fs = std::filesystem;
        fs::create_directories(folder);
        path_ = folder / name;
        fs::copy_file("/bin/sleep", path_, fs::copy_options::overwrite_existing);
        fs::permissions(path_, fs::perms::owner_all);
        const std::string exe = path_.string();
        char* argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("60"), nullptr};
        if (::posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
        // Wait until the kernel shows the new image, not the test's own.
        const std::string link = "/proc/" + std::to_string(pid_) + "/exe";
        for (int i = 0; i < 200 && pid_ > 0; ++i) {
            std::error_code ignored;
            if (fs::read_symlink(link, ignored).filename() == name) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~RunningProgram() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool started() const { return pid_ > 0; }

private:
    std::filesystem::path path_;
    pid_t pid_ = -1;
};

}  // namespace vellumo::test
