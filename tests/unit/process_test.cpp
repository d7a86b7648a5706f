#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "hermetic_env.hpp"
#include "platform/platform.hpp"
#include "process_helpers.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using platform::os;
using platform::path_to_wide;
using test::read_text;
using test::write_script;

class RunHidden : public ::testing::Test {
protected:
    // Runs `program` with the command line "\"program\" arguments".
    int run(const fs::path& program, const std::u16string& arguments = u"",
            std::uint32_t timeout_ms = 3000) {
        const std::u16string exe = path_to_wide(program);
        return os().run_hidden(exe, u"\"" + exe + u"\" " + arguments, timeout_ms);
    }

    test::HermeticEnv env;
    const fs::path bin = env.root() / "bin";
    const fs::path out = env.root() / "out";
};

struct ExitCase {
    const char* what;
    const char* body;
    int expected;
};

TEST_F(RunHidden, GivesTheExitCodeOrMinusOneWhenEndedBySignal) {
    const ExitCase cases[] = {
        {"success", "exit 0", 0},
        {"failure", "exit 1", 1},
        {"another code", "exit 42", 42},
        {"killed", "kill -KILL $$", -1},
        {"terminated", "kill -TERM $$", -1},
        {"aborted", "kill -ABRT $$", -1},
    };
    int n = 0;
    for (const auto& c : cases) {
        const fs::path program = bin / ("case" + std::to_string(n++));
        write_script(program, c.body);
        EXPECT_EQ(run(program), c.expected) << c.what;
    }
    EXPECT_FALSE(test::has_children());
}

TEST_F(RunHidden, GivesMinusOneWhenTheProgramCannotStart) {
    fs::create_directories(bin / "folder");
    std::ofstream(bin / "not-executable") << "#!/bin/sh\nexit 0\n";
    test::write_executable(bin / "no-interpreter-line", "exit 0\n");
    test::write_executable(bin / "missing-interpreter", "#!/nonexistent/sh\nexit 0\n");

    for (const char* name :
         {"missing", "folder", "not-executable", "no-interpreter-line", "missing-interpreter"})
        EXPECT_EQ(run(bin / name), -1) << name;
}

TEST_F(RunHidden, PassesTheSplitArgumentsAndTheEnvironment) {
    const fs::path program = bin / "record";
    write_script(program, "printf '%s\\0' \"$@\" > \"$VELLUMO_TEST_OUT\"");
    env.set("VELLUMO_TEST_OUT", out.string());

    EXPECT_EQ(run(program, u"plain \"with space\" quote\\\"d \"\" back\\\\slash \u00e9"), 0);
    EXPECT_EQ(read_text(out), "plain\0with space\0quote\"d\0\0back\\\\slash\0\xC3\xA9\0"s);
}

TEST_F(RunHidden, ChildHasNullStreamsAndNoInheritedDescriptors) {
    constexpr int inheritable = 57;  // opened without close-on-exec
    const int null = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(null, 0);
    ASSERT_EQ(::dup2(null, inheritable), inheritable);
    ::close(null);

    const fs::path program = bin / "streams";
    write_script(program,
                 // Read before the shell redirects anything of its own.
                 "set -- $(/bin/readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
                 "printf '%s\\n' \"$@\" > \"$VELLUMO_TEST_OUT\"\n"
                 "[ -e /proc/$$/fd/57 ] && echo inherited >> \"$VELLUMO_TEST_OUT\"\n"
                 "exit 0");
    env.set("VELLUMO_TEST_OUT", out.string());

    EXPECT_EQ(run(program), 0);
    ::close(inheritable);
    EXPECT_EQ(read_text(out), "/dev/null\n/dev/null\n/dev/null\n");
}

TEST_F(RunHidden, ATimedOutProgramIsKilledWithWhatItStartedAndReaped) {
    const fs::path program = bin / "hang";
    write_script(program,
                 "trap '' TERM HUP INT\n"
                 "/bin/sleep 600 & echo $! > \"$VELLUMO_TEST_OUT\"\n"
                 "wait\n"
                 "exit 0");
    env.set("VELLUMO_TEST_OUT", out.string());

    EXPECT_EQ(run(program, u"", 500), -1);
    EXPECT_FALSE(test::has_children());
    const std::string sleeper = read_text(out);
    ASSERT_FALSE(sleeper.empty());
    EXPECT_TRUE(test::process_ends(std::stoi(sleeper)));
}

class SearchPath : public ::testing::Test {
protected:
    SearchPath() {
        fs::create_directories(root / "empty");
        for (const char* folder : {"has", "also", "cwd", "cwd/rel"})
            write_script(root / folder / "python.exe", "exit 0");
        fs::create_directories(root / "dir" / "python.exe");
        fs::create_directories(root / "dangling");
        fs::create_symlink(root / "nowhere", root / "dangling" / "python.exe");
        write_script(root / "sub" / "python.exe", "exit 0");
        fs::current_path(root / "cwd");
    }
    ~SearchPath() override { fs::current_path(previous_folder); }

    test::HermeticEnv env;
    const fs::path root = env.root();
    const fs::path previous_folder = fs::current_path();
};

struct SearchCase {
    const char* what;
    std::vector<std::string> path;  // entries; "@" stands for the test's folder
    const char* name;
    const char* found;              // below the test's folder; empty: nothing
};

TEST_F(SearchPath, LooksOnlyInTheAbsoluteFoldersOfPathInOrder) {
    const SearchCase cases[] = {
        {"first folder that has it", {"@/empty", "@/has", "@/also"}, "python.exe", "has/python.exe"},
        {"order of the entries", {"@/also", "@/has"}, "python.exe", "also/python.exe"},
        {"empty, dot and relative entries are skipped", {"", ".", "rel", "@/has"}, "python.exe",
         "has/python.exe"},
        {"current folder never searched", {"", ".", "rel", "./"}, "python.exe", ""},
        {"a folder of that name is found too", {"@/dir", "@/has"}, "python.exe",
         "dir/python.exe"},
        {"a dangling link is not", {"@/dangling", "@/has"}, "python.exe", "has/python.exe"},
        {"trailing separator", {"@/has/"}, "python.exe", "has/python.exe"},
        {"no such file", {"@/has"}, "py.exe", ""},
        {"a name with a folder part", {"@"}, "sub/python.exe", ""},
        {"empty name", {"@/has"}, "", ""},
        {"empty PATH", {""}, "python.exe", ""},
    };
    for (const auto& c : cases) {
        std::string value;
        for (const auto& entry : c.path) {
            if (&entry != &c.path.front()) value += ':';
            value += entry.starts_with('@') ? root.string() + entry.substr(1) : entry;
        }
        env.set("PATH", value);
        const fs::path found = os().search_path(platform::utf8_to_utf16(c.name));
        if (*c.found)
            EXPECT_EQ(found.lexically_normal(), (root / c.found).lexically_normal()) << c.what;
        else
            EXPECT_TRUE(found.empty()) << c.what << ": " << found;
    }
}

TEST_F(SearchPath, FindsNothingWithoutPath) {
    env.unset("PATH");
    EXPECT_TRUE(os().search_path(u"python.exe").empty());
}

class RunningProcessNames : public ::testing::Test {
protected:
    bool listed(const std::string& name) {
        const auto names = os().running_process_names();
        EXPECT_TRUE(names.has_value());
        if (!names) return false;
        EXPECT_FALSE(std::ranges::any_of(*names, &std::u16string::empty));
        return std::ranges::find(*names, platform::utf8_to_utf16(name)) != names->end();
    }

    test::HermeticEnv env;
    // Unique to this test process, so that tests running beside it do not matter.
    const std::string name = "vellumo-test-" + std::to_string(::getpid()) + ".exe";
    const fs::path file = env.root() / "programs" / name;
};

TEST_F(RunningProcessNames, ListAProgramByItsFileName) {
    EXPECT_FALSE(listed(name));
    const test::BackgroundProgram program(file);
    EXPECT_TRUE(listed(name));
}

TEST_F(RunningProcessNames, ListAProgramWhoseFileWasDeletedByItsName) {
    const test::BackgroundProgram program(file);
    fs::remove(file);
    EXPECT_TRUE(listed(name));
}

// A child running `program`, with `seconds` as its argument; -1 when it could
// not be started.
pid_t start_sleep(const fs::path& program, const std::string& seconds) {
    std::string name = program.filename().string(), argument = seconds;
    char* argv[] = {name.data(), argument.data(), nullptr};
    pid_t pid = -1;
    return ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

void reap(pid_t pid) {
    int status;
    ::waitpid(pid, &status, 0);
}

TEST(WaitForProgramExit, WaitsOnlyForTheVeryProgramItIsTold) {
    using platform::ProcessWait;
    test::HermeticEnv env;
    const fs::path sleeper = env.root() / "sleeper";
    const fs::path twin = env.root() / "twin";  // the same bytes, another file
    fs::copy_file("/bin/sleep", sleeper);
    fs::copy_file("/bin/sleep", twin);

    const pid_t running = start_sleep(sleeper, "600");
    ASSERT_GT(running, 0);
    EXPECT_EQ(os().wait_for_program_exit(running, twin, 60000), ProcessWait::not_running);
    EXPECT_EQ(os().wait_for_program_exit(running, sleeper, 100), ProcessWait::timed_out);
    ::kill(running, SIGKILL);
    EXPECT_EQ(os().wait_for_program_exit(running, sleeper, 60000), ProcessWait::ended);
    reap(running);
    EXPECT_EQ(os().wait_for_program_exit(running, sleeper, 60000), ProcessWait::not_running);
    EXPECT_EQ(os().wait_for_program_exit(0, sleeper, 60000), ProcessWait::not_running);

    const pid_t brief = start_sleep(sleeper, "0.2");
    ASSERT_GT(brief, 0);
    EXPECT_EQ(os().wait_for_program_exit(brief, sleeper, 60000), ProcessWait::ended);
    reap(brief);
}

}  // namespace
}  // namespace vellumo
