#include "platform/linux/spawn.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include "platform/platform.hpp"

extern char** environ;

namespace vellumo::platform {

std::vector<std::string> arguments_of(const std::filesystem::path& program,
                                      std::u16string_view command_line) {
    std::vector<std::string> arguments;
    for (const std::u16string& argument : split_command_line(command_line))
        arguments.push_back(utf16_to_utf8(argument));
    if (arguments.empty()) arguments.push_back(program.native());
    return arguments;
}

pid_t spawn_quiet(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                  ChildGroup group, const std::filesystem::path& folder, int held) {
    if (held >= 0 && held <= STDERR_FILENO) return -1;  // the streams take those numbers
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (::posix_spawn_file_actions_init(&actions) != 0) return -1;
    if (::posix_spawnattr_init(&attributes) != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    bool ready = ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                                    O_RDONLY, 0) == 0 &&
                 ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null",
                                                    O_WRONLY, 0) == 0 &&
                 ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO) == 0;
    if (!folder.empty())
        ready = ready && ::posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) == 0;
    else if (held >= 0)
        ready = ready && ::posix_spawn_file_actions_addfchdir_np(&actions, held) == 0;
    // Every other descriptor goes; a close of one that is not open is no error.
    for (int fd = STDERR_FILENO + 1; held >= 0 && fd < held; ++fd)
        ready = ready && ::posix_spawn_file_actions_addclose(&actions, fd) == 0;
    ready = ready && ::posix_spawn_file_actions_addclosefrom_np(
                         &actions, held >= 0 ? held + 1 : STDERR_FILENO + 1) == 0;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (group == ChildGroup::own_session) {
        flags |= POSIX_SPAWN_SETSID;
    } else {
        flags |= POSIX_SPAWN_SETPGROUP;
        ready = ready && ::posix_spawnattr_setpgroup(&attributes, 0) == 0;
    }
    ready = ready && ::posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
            ::posix_spawnattr_setsigdefault(&attributes, &all) == 0 &&
            ::posix_spawnattr_setflags(&attributes, flags) == 0;
    pid_t child = -1;
    const bool started = ready && ::posix_spawn(&child, program.c_str(), &actions, &attributes,
                                                argv.data(), environ) == 0;
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    return started ? child : -1;
}

}  // namespace vellumo::platform
