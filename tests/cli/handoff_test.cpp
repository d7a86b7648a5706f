// The uninstall hand-off: started from the install folder, the program leaves
// the uninstall to a temporary copy of itself and exits; otherwise (or when
// the copy cannot be made or started) it uninstalls in its own process.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <optional>

#include "app/startup.hpp"
#include "cli/program.hpp"
#include "engine/registry.hpp"
#include "engine/text.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using test::ProgramWorld;
using test::read_text;
using test::setup_program;

TEST(HandOffProgram, CopyFromTheInstallFolderUninstallsAndGoes) {
    ProgramWorld world;
    ASSERT_EQ(world.run(setup_program(), {"--silent"}).exit_code, 0);
    fs::remove(world.sandbox() / "result.json");
    const fs::path original = world.install_folder() / "uninstall.exe";
    fs::copy_file(setup_program(), original, fs::copy_options::overwrite_existing);

    const test::Run run = world.run(original, {"--uninstall", "--silent"});
    EXPECT_EQ(run.exit_code, 0);
    // The copy deletes itself two seconds after its uninstall: it is there now.
    const fs::path copy =
        world.runtime() / ("VellumoUninstall-" + std::to_string(run.pid) + ".exe");
    EXPECT_TRUE(fs::exists(copy));
    EXPECT_FALSE(test::process_mentions(original.string()));  // no self-deletion here

    EXPECT_TRUE(test::eventually([&] {
        return read_text(world.sandbox() / "result.json") ==
               "{\n  \"error\": \"\",\n  \"notes\": [],\n  \"ok\": true\n}";
    }));
    EXPECT_FALSE(fs::exists(world.install_folder()));
    EXPECT_TRUE(test::eventually([&] { return !fs::exists(copy); }));
}

// Started from a prompt in the install folder, the copy must not keep it as
// its current folder: Windows cannot remove such a folder. Linux can, so the
// copy's folder is looked at instead.
TEST(HandOffProgram, CopyRunsInItsOwnFolderNotTheCallers) {
    ProgramWorld world;
    ASSERT_EQ(world.run(setup_program(), {"--silent"}).exit_code, 0);
    const fs::path original = world.install_folder() / "uninstall.exe";
    fs::copy_file(setup_program(), original, fs::copy_options::overwrite_existing);

    world.start_in(world.install_folder());
    const test::Run run = world.run(original, {"--uninstall", "--silent"});
    ASSERT_EQ(run.exit_code, 0);
    const fs::path copy =
        world.runtime() / ("VellumoUninstall-" + std::to_string(run.pid) + ".exe");
    std::vector<fs::path> folders;
    EXPECT_TRUE(test::eventually(
        [&] {
            for (const fs::path& process : test::processes_mentioning(copy.string())) {
                std::error_code gone;  // it ended meanwhile
                const fs::path folder = fs::read_symlink(process / "cwd", gone);
                if (!gone) folders.push_back(folder);
            }
            return !folders.empty();
        },
        std::chrono::seconds(60)));
    for (const fs::path& folder : folders) EXPECT_EQ(folder, fs::canonical(world.runtime()));
    EXPECT_TRUE(test::eventually([&] { return !fs::exists(world.install_folder()); }));
}

// With a relative sandbox, the copy works on the same sandbox as the program
// that started it: it keeps the caller's current folder.
TEST(HandOffProgram, CopyWorksOnTheSameRelativeSandbox) {
    ProgramWorld world;
    world.start_in(world.root());
    const std::string sandbox = world.sandbox().filename().string();
    ASSERT_EQ(world.run_as(setup_program(), {"--silent"}, sandbox).exit_code, 0);
    fs::remove(world.sandbox() / "result.json");
    const fs::path original = world.install_folder() / "uninstall.exe";
    ASSERT_TRUE(fs::exists(original));

    const test::Run run = world.run_as(original, {"--uninstall", "--silent"}, sandbox);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(test::eventually(
        [&] {
            return read_text(world.sandbox() / "result.json") ==
                   "{\n  \"error\": \"\",\n  \"notes\": [],\n  \"ok\": true\n}";
        },
        std::chrono::seconds(60)));
    EXPECT_FALSE(fs::exists(world.install_folder()));
}

// The running executable, the copy's start and the mutex's release under a
// test's control; everything else is the real system.
class HandOffSystem : public platform::System {
public:
    fs::path exe;
    std::optional<fs::path> temporary;
    bool start_succeeds = true;
    std::function<void()> before_start;
    std::vector<std::string> calls;
    fs::path started_program;
    std::u16string started_line;
    fs::path started_in;

    fs::path executable_path() override { return exe; }
    platform::HeldFolder open_temporary_folder() override {
        return temporary ? platform::HeldFolder(*temporary, -1) : System::open_temporary_folder();
    }
    void release_instance_mutex() override {
        calls.push_back("release");
        System::release_instance_mutex();
    }
    bool start_process(const platform::HeldFolder& folder, const fs::path& name,
                       std::u16string_view line, const fs::path& working_folder) override {
        calls.push_back("start");
        started_program = folder.path() / name;
        started_line = line;
        started_in = working_folder;
        if (before_start) before_start();
        return start_succeeds;
    }
};

class HandOff : public testing::Test {
protected:
    void SetUp() override {
        sandbox_root = world_.sandbox();
        fs::create_directories(world_.install_folder());
        system_.exe = world_.install_folder() / "uninstall.exe";
        test::write_text(system_.exe, "#!/bin/sh\n");
        fs::permissions(system_.exe, fs::perms(0755));
        ASSERT_EQ(platform::os().create_instance_mutex(product_info.mutex_name),
                  platform::InstanceMutex::created);
    }
    void TearDown() override {
        platform::System().release_instance_mutex();
        sandbox_root.clear();
        silent_mode = false;
        fs::current_path(current_folder_);
    }

    fs::path copy_name() const {
        return "VellumoUninstall-" + std::to_string(::getpid()) + ".exe";
    }
    fs::path expected_copy() const { return world_.runtime() / copy_name(); }

    const fs::path current_folder_ = fs::current_path();
    ProgramWorld world_;
    HandOffSystem system_;
    platform::ScopedSystem scoped_{system_};
    bool mutex_held_ = true;
};

TEST_F(HandOff, StartsACopyAfterGivingUpTheMutex) {
    for (const bool silent : {false, true}) {
        silent_mode = silent;
        system_.calls.clear();
        mutex_held_ = true;
        EXPECT_TRUE(hand_off_uninstall(mutex_held_));
        EXPECT_FALSE(mutex_held_);
        EXPECT_EQ(system_.calls, (std::vector<std::string>{"release", "start"}));
        EXPECT_EQ(system_.started_program, expected_copy());
        EXPECT_EQ(system_.started_line, u"\"" + path_wide(expected_copy()) +
                                            u"\" --uninstall --cleanup" +
                                            (silent ? u" --silent" : u""));
        EXPECT_EQ(read_text(expected_copy()), "#!/bin/sh\n");
        EXPECT_EQ(::access(expected_copy().c_str(), X_OK), 0);  // still a program
    }
    // Given up for real: the copy can take it.
    EXPECT_EQ(platform::System().create_instance_mutex(product_info.mutex_name),
              platform::InstanceMutex::created);
}

TEST_F(HandOff, NotFromTheInstallFolderKeepsTheJobAndTheMutex) {
    system_.exe = world_.root() / "elsewhere" / "uninstall.exe";
    fs::create_directories(system_.exe.parent_path());
    fs::copy_file(world_.install_folder() / "uninstall.exe", system_.exe);
    EXPECT_FALSE(hand_off_uninstall(mutex_held_));
    EXPECT_TRUE(mutex_held_);
    EXPECT_EQ(system_.calls, std::vector<std::string>{});
    EXPECT_EQ(test::uninstaller_copies(world_.runtime()), std::vector<fs::path>{});
}

TEST_F(HandOff, NoInstallFolderMeansNoHandOff) {
    fs::rename(world_.install_folder(), world_.root() / "moved");
    system_.exe = world_.root() / "moved" / "uninstall.exe";
    EXPECT_FALSE(hand_off_uninstall(mutex_held_));
    EXPECT_TRUE(mutex_held_);
}

TEST_F(HandOff, CopyThatCannotBeMadeKeepsTheMutex) {
    fs::create_directory(expected_copy());  // in the way
    EXPECT_FALSE(hand_off_uninstall(mutex_held_));
    EXPECT_TRUE(mutex_held_);
    EXPECT_EQ(system_.calls, std::vector<std::string>{});
}

TEST_F(HandOff, ALinkAtTheCopysNameIsNeitherFollowedNorTakenAway) {
    const fs::path outside = world_.root() / "outside";
    test::write_text(outside, "keep");
    fs::create_symlink(outside, expected_copy());
    EXPECT_FALSE(hand_off_uninstall(mutex_held_));
    EXPECT_TRUE(mutex_held_);
    EXPECT_EQ(system_.calls, std::vector<std::string>{});
    EXPECT_EQ(read_text(outside), "keep");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(expected_copy())));
}

// An earlier run with the same process id left its copy behind.
TEST_F(HandOff, AStaleCopyIsReplaced) {
    test::write_text(expected_copy(), "stale");
    EXPECT_TRUE(hand_off_uninstall(mutex_held_));
    EXPECT_EQ(system_.calls, (std::vector<std::string>{"release", "start"}));
    EXPECT_EQ(read_text(expected_copy()), "#!/bin/sh\n");
}

TEST_F(HandOff, NoPrivateFolderMeansNoHandOff) {
    system_.temporary = fs::path();
    EXPECT_FALSE(hand_off_uninstall(mutex_held_));
    EXPECT_TRUE(mutex_held_);
    EXPECT_EQ(system_.calls, std::vector<std::string>{});
}

TEST_F(HandOff, FolderThatCannotBeQuotedMeansNoHandOff) {
    const fs::path folder = world_.root() / "run\"time";
    fs::create_directory(folder);
    system_.temporary = folder;
    EXPECT_FALSE(hand_off_uninstall(mutex_held_));
    EXPECT_TRUE(mutex_held_);
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(HandOff, CopyThatCannotStartIsRemovedAndTheMutexStaysGiven) {
    system_.start_succeeds = false;
    EXPECT_FALSE(hand_off_uninstall(mutex_held_));
    EXPECT_FALSE(mutex_held_);
    EXPECT_EQ(system_.calls, (std::vector<std::string>{"release", "start"}));
    EXPECT_FALSE(fs::exists(expected_copy()));
}

// The copy goes from the folder it was written to, although another folder
// has taken that folder's name meanwhile.
TEST_F(HandOff, CopyThatCannotStartIsRemovedFromTheFolderItWasWrittenTo) {
    world_.env().unset("XDG_RUNTIME_DIR");  // the private folder in the cache folder
    const fs::path run = world_.root() / "cache" / "vellumo-setup" / "run";
    const fs::path moved = world_.root() / "cache" / "moved";
    system_.start_succeeds = false;
    system_.before_start = [&] {
        fs::rename(run.parent_path(), moved);
        fs::create_directories(run);
        test::write_text(run / copy_name(), "another's");
    };
    EXPECT_FALSE(hand_off_uninstall(mutex_held_));
    EXPECT_EQ(system_.started_program, run / copy_name());
    EXPECT_EQ(read_text(run / copy_name()), "another's");
    EXPECT_EQ(test::uninstaller_copies(moved / "run"), std::vector<fs::path>{});
}

// The copy works in our current folder, where a relative sandbox names the
// same folders, unless ours is the install folder or lies inside it, which
// the copy must not hold: then it works in its own. Decided by identity, not
// by the folders' names.
TEST_F(HandOff, CopyWorksInOurFolderUnlessThatLiesInTheInstallFolder) {
    const fs::path linked_sandbox = world_.root() / "linked";
    fs::create_directory_symlink(world_.sandbox(), linked_sandbox);
    const fs::path inner = world_.install_folder() / "inner";
    fs::create_directory(inner);
    const fs::path relative_sandbox = world_.sandbox().filename();
    // From inside the install folder, a relative sandbox that names it too:
    // the copy, in its own folder, would find another.
    const fs::path back = world_.install_folder() / "back";
    fs::create_directory_symlink(world_.sandbox(), back);
    struct Case {
        const char* what;
        fs::path sandbox;
        fs::path current;
        std::optional<fs::path> copy_folder;  // empty: its own; none: no hand-off
    };
    const Case cases[] = {
        {"elsewhere", world_.sandbox(), world_.work(), world_.work()},
        {"in the install folder", world_.sandbox(), world_.install_folder(), fs::path()},
        {"inside it", world_.sandbox(), inner, fs::path()},
        {"in it, named through a link", linked_sandbox, inner, fs::path()},
        {"a relative sandbox, elsewhere", relative_sandbox, world_.root(), world_.root()},
        {"a relative sandbox, in the install folder", back.filename(), world_.install_folder(),
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sandbox_root = c.sandbox;
        fs::current_path(c.current);
        system_.calls.clear();
        system_.started_in = "unset";
        mutex_held_ = true;
        EXPECT_EQ(hand_off_uninstall(mutex_held_), c.copy_folder.has_value());
        if (!c.copy_folder) {
            EXPECT_TRUE(mutex_held_);
            EXPECT_EQ(system_.calls, std::vector<std::string>{});
        } else if (c.copy_folder->empty()) {
            EXPECT_EQ(system_.started_in, fs::path());
        } else {
            std::error_code ignored;
            EXPECT_TRUE(fs::equivalent(system_.started_in, *c.copy_folder, ignored))
                << system_.started_in;
        }
    }
}

TEST(HandOffNames, CopyNameIsThePidInDecimal) {
    EXPECT_EQ(uninstaller_copy_name(0), u"VellumoUninstall-0.exe");
    EXPECT_EQ(uninstaller_copy_name(4012), u"VellumoUninstall-4012.exe");
    EXPECT_EQ(uninstaller_copy_name(4294967295u), u"VellumoUninstall-4294967295.exe");
}

}  // namespace
}  // namespace vellumo
