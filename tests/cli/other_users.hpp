// Another user of the machine, for the ownership tests: a throwaway user and
// group id that no account has, and actions taken as that user in a child
// process. Only root can switch to another user; these tests skip otherwise.
//
//   if (::geteuid() != 0) GTEST_SKIP() << test::needs_root;
//   const uid_t other = test::unused_id();
//   EXPECT_TRUE(test::as_user(other, [&] { return ::mkdir(path, 0777) == 0; }));
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace vellumo::test {

inline constexpr const char* needs_root =
    "needs root: only root can give a folder to another user or act as one";

// The first id from `from` on that is neither a user's nor a group's.
inline uid_t unused_id(uid_t from = 61000) {
    while (::getpwuid(from) != nullptr || ::getgrgid(from) != nullptr) ++from;
    return from;
}

// Runs `action` in a child process as user and group `id`, without
// supplementary groups; true when the switch worked and `action` returned
// true.
inline bool as_user(uid_t id, const std::function<bool()>& action) {
    const pid_t child = ::fork();
    if (child == 0) {
        bool done = false;
        try {
            done = ::setgroups(0, nullptr) == 0 && ::setresgid(id, id, id) == 0 &&
                   ::setresuid(id, id, id) == 0 && action();
        } catch (...) {
        }
        ::_exit(done ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

}  // namespace vellumo::test
