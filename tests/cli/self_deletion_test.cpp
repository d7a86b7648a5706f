// --cleanup: the running executable is removed a little after the run ends,
// whatever the run's outcome, but never after the check or a quiet exit.
// Every test runs a copy of the program, which may go.
#include <gtest/gtest.h>

#include "app/startup.hpp"
#include "cli/program.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using test::eventually;
using test::process_mentions;
using test::ProgramWorld;

fs::path copy_program(const ProgramWorld& world, const std::string& name) {
    const fs::path copy = world.root() / "bin" / name;
    fs::create_directories(copy.parent_path());
    fs::copy_file(test::setup_program(), copy);
    return copy;
}

TEST(SelfDeletion, AfterASilentInstall) {
    ProgramWorld world;
    const fs::path copy = copy_program(world, "vellumo-setup");
    EXPECT_EQ(world.run(copy, {"--cleanup", "--silent"}).exit_code, 0);
    EXPECT_TRUE(fs::exists(world.install_folder() / "install.json"));
    // The deletion waits in a process of its own, which holds no lock of ours.
    EXPECT_EQ(platform::os().create_instance_mutex(product_info.mutex_name),
              platform::InstanceMutex::created);
    platform::os().release_instance_mutex();
    EXPECT_TRUE(eventually([&] { return !fs::exists(copy); }));
}

TEST(SelfDeletion, AfterTheWindowFailed) {
    ProgramWorld world;
    const fs::path copy = copy_program(world, "vellumo-setup");
    const test::Run run = world.run(copy, {"--cleanup"});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(run.err, std::string(window_failure_caption) + ": " + window_failure_message + "\n");
    EXPECT_TRUE(eventually([&] { return !fs::exists(copy); }));
}

TEST(SelfDeletion, AfterAnUninstallInThisProcess) {
    ProgramWorld world;
    const fs::path copy = copy_program(world, "vellumo-setup");
    ASSERT_EQ(world.run(test::setup_program(), {"--silent"}).exit_code, 0);
    EXPECT_EQ(world.run(copy, {"--uninstall", "--cleanup", "--silent"}).exit_code, 0);
    EXPECT_FALSE(fs::exists(world.install_folder()));
    EXPECT_TRUE(eventually([&] { return !fs::exists(copy); }));
}

TEST(SelfDeletion, PathIsNeverReadAsShellText) {
    ProgramWorld world;
    const fs::path copy = copy_program(world, "we\"ird $(touch pwned) `touch pwned2` ' x");
    test::write_text(world.work() / "x", "stays");  // a word of the name, in the current folder
    EXPECT_EQ(world.run(copy, {"--cleanup", "--silent"}).exit_code, 0);
    EXPECT_TRUE(eventually([&] { return !fs::exists(copy); }));
    EXPECT_FALSE(fs::exists(world.work() / "pwned"));
    EXPECT_FALSE(fs::exists(world.work() / "pwned2"));
    EXPECT_TRUE(fs::exists(world.work() / "x"));
}

TEST(SelfDeletion, NeverAfterTheCheck) {
    ProgramWorld world;
    const fs::path copy = copy_program(world, "vellumo-setup");
    EXPECT_EQ(world.run(copy, {"--check", "--cleanup"}).exit_code, 0);
    // A deletion would be waiting now, for two seconds.
    EXPECT_FALSE(process_mentions(copy.string()));
    EXPECT_TRUE(fs::exists(copy));
}

TEST(SelfDeletion, NeverWhileAnotherInstanceRuns) {
    ProgramWorld world;
    const fs::path copy = copy_program(world, "VellumoUninstall-1.exe");
    ASSERT_EQ(platform::os().create_instance_mutex(product_info.mutex_name),
              platform::InstanceMutex::created);
    const test::Run run = world.run(copy, {"--uninstall", "--cleanup", "--silent"});
    platform::os().release_instance_mutex();
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_FALSE(process_mentions(copy.string()));
    EXPECT_TRUE(fs::exists(copy));
    EXPECT_FALSE(fs::exists(world.sandbox() / "result.json"));
}

}  // namespace
}  // namespace vellumo
