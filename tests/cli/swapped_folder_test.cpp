// Another user exchanges the program's folder in a cache folder that is open
// to everyone (a shared machine, a careless chmod 777) for a folder of their
// own while the program works in it. step_shim holds the program right after
// a step in its private folder, the other user takes the folder's name, and
// the program goes on: nothing of it may land in the other user's folder, and
// nothing of theirs may run in its place.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/other_users.hpp"
#include "cli/step_runs.hpp"
#include "unit/file_tree.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using test::ProgramWorld;

class SwappedPrivateFolder : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << test::needs_root;
        world_.env().unset("XDG_RUNTIME_DIR");
        // The other user can reach the cache folder and change it.
        fs::permissions(world_.root(), fs::perms(0711), fs::perm_options::replace);
        fs::create_directories(cache());
        fs::permissions(cache(), fs::perms(0777), fs::perm_options::replace);
    }

    fs::path cache() const { return world_.root() / "cache"; }
    // The program's folder, and where the other user puts it aside.
    fs::path ours() const { return cache() / "vellumo-setup"; }
    fs::path moved() const { return cache() / "moved"; }
    // Whether a job has written that it succeeded.
    bool job_succeeded() const {
        const auto result = test::read_text(world_.sandbox() / "result.json");
        return result && nlohmann::json::parse(*result, nullptr, false).value("ok", false);
    }

    // Runs `program` until its first step on a file in the run folder whose
    // name starts with `held_at`; there the other user moves the program's
    // folder aside and makes one of their own at its name, open to everyone,
    // with a run folder that `plant` (given that folder and the program's id)
    // fills. Then the program goes on.
    test::Run run_swapped(const fs::path& program, const std::vector<std::string>& arguments,
                          const std::string& held_at,
                          const std::function<bool(const fs::path&, pid_t)>& plant) {
        const fs::path gate = world_.root() / "gate";
        fs::create_directory(gate);
        ProgramWorld::Started started;
        {
            const test::StepShim shim(
                world_.env(), test::Steps{.gate = gate, .under = ours() / "run" / held_at});
            started = world_.start(program, arguments);
        }
        EXPECT_TRUE(test::eventually([&] { return !test::held_at(gate).empty(); },
                                     std::chrono::seconds(60)));
        EXPECT_TRUE(test::as_user(other_, [&] {
            const fs::path run = ours() / "run";
            fs::rename(ours(), moved());
            fs::create_directories(run);
            fs::permissions(ours(), fs::perms(0777), fs::perm_options::replace);
            fs::permissions(run, fs::perms(0777), fs::perm_options::replace);
            return plant(run, started.pid);
        }));
        test::write_text(gate / "open", "");
        return world_.finish(started);
    }

    ProgramWorld world_;
    const uid_t other_ = test::unused_id();
};

// The lock file goes into the folder that was checked, never into theirs: a
// lock there would be theirs to take away, and with it the guard.
TEST_F(SwappedPrivateFolder, LockFileStaysInTheFolderThatWasChecked) {
    const test::Run run =
        run_swapped(test::setup_program(), {"--silent"}, "VellumoSetupResolve.lock",
                    [](const fs::path&, pid_t) { return true; });
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(job_succeeded());
    EXPECT_EQ(test::tree_of(ours()), (test::Tree{{"run", "<dir>"}}));
    EXPECT_TRUE(fs::is_regular_file(moved() / "run" / "VellumoSetupResolve.lock"));
}

// The uninstaller copy starts from the folder it was written to: their
// program at its name never runs as this user.
TEST_F(SwappedPrivateFolder, CopyStartsFromTheFolderItWasWrittenTo) {
    ASSERT_EQ(world_.run(test::setup_program(), {"--silent"}).exit_code, 0);
    fs::remove(world_.sandbox() / "result.json");
    const fs::path original = world_.install_folder() / "uninstall.exe";
    const fs::path theirs_ran = world_.root() / "theirs-ran";
    const std::string theirs = "#!/bin/sh\ntouch '" + theirs_ran.string() + "'\n";
    const auto copy_name = [](pid_t pid) {
        return "VellumoUninstall-" + std::to_string(pid) + ".exe";
    };

    const test::Run run = run_swapped(original, {"--uninstall", "--silent"}, "VellumoUninstall-",
                                      [&](const fs::path& run, pid_t pid) {
                                          test::write_text(run / copy_name(pid), theirs);
                                          return ::chmod((run / copy_name(pid)).c_str(), 0755) == 0;
                                      });
    EXPECT_EQ(run.exit_code, 0) << run.err;
    // The copy alone writes the result; theirs would have run in its place.
    EXPECT_TRUE(test::eventually([&] { return job_succeeded(); }, std::chrono::seconds(60)));
    EXPECT_FALSE(fs::exists(theirs_ran));
    EXPECT_FALSE(fs::exists(world_.install_folder()));
    EXPECT_EQ(test::tree_of(ours()),
              (test::Tree{{"run", "<dir>"}, {"run/" + copy_name(run.pid), theirs}}));
    EXPECT_TRUE(test::eventually(
        [&] { return test::uninstaller_copies(moved() / "run") == std::vector<fs::path>{}; }));
}

}  // namespace
}  // namespace vellumo
