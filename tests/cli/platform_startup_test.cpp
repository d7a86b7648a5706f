// The Linux start-up operations: the user's private folder (lock files and
// the temporary uninstaller), the lock files' names, the environment.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "cli/program.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using platform::InstanceMutex;
using platform::os;

class PrivateFolder : public testing::Test {
protected:
    fs::path fallback() const {
        return world_.tmp() / ("vellumo-" + std::to_string(::geteuid()));
    }
    static unsigned mode_of(const fs::path& folder) {
        struct stat info {};
        ::lstat(folder.c_str(), &info);
        return info.st_mode & 07777;
    }

    test::ProgramWorld world_;
};

TEST_F(PrivateFolder, IsTheRuntimeFolderWhenItIsPrivate) {
    EXPECT_EQ(os().temporary_folder(), world_.runtime());
    EXPECT_FALSE(fs::exists(fallback()));
}

TEST_F(PrivateFolder, OtherwiseAFolderOfItsOwnInTheTemporaryFolder) {
    const fs::path linked = world_.root() / "linked-runtime";
    fs::create_directory_symlink(world_.runtime(), linked);
    const fs::path shared = world_.root() / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms(0755), fs::perm_options::replace);
    const fs::path others = world_.root() / "others";
    fs::create_directory(others);
    fs::permissions(others, fs::perms(0700), fs::perm_options::replace);
    ASSERT_EQ(::chown(others.c_str(), 12345, 12345), 0);

    for (const std::optional<fs::path>& runtime :
         {std::optional<fs::path>(), std::optional<fs::path>("runtime"),
          std::optional<fs::path>(linked), std::optional<fs::path>(shared),
          std::optional<fs::path>(others), std::optional<fs::path>(world_.root() / "none")}) {
        SCOPED_TRACE(runtime ? runtime->string() : "unset");
        if (runtime)
            world_.env().set("XDG_RUNTIME_DIR", *runtime);
        else
            world_.env().unset("XDG_RUNTIME_DIR");
        EXPECT_EQ(os().temporary_folder(), fallback());
        EXPECT_EQ(mode_of(fallback()), 0700u);
    }
}

TEST_F(PrivateFolder, FallbackThatIsNotPrivateIsNotUsed) {
    world_.env().unset("XDG_RUNTIME_DIR");
    const fs::path target = world_.root() / "planted";
    fs::create_directory(target);
    fs::permissions(target, fs::perms(0700), fs::perm_options::replace);

    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"link", [&] { fs::create_directory_symlink(target, fallback()); }},
        {"open to others",
         [&] {
             fs::create_directory(fallback());
             fs::permissions(fallback(), fs::perms(0755), fs::perm_options::replace);
         }},
        {"another owner",
         [&] {
             fs::create_directory(fallback());
             fs::permissions(fallback(), fs::perms(0700), fs::perm_options::replace);
             ASSERT_EQ(::chown(fallback().c_str(), 12345, 12345), 0);
         }},
        {"file", [&] { test::write_text(fallback(), ""); }},
    };
    for (const auto& [name, plant] : cases) {
        SCOPED_TRACE(name);
        plant();
        EXPECT_EQ(os().temporary_folder(), fs::path());
        EXPECT_EQ(os().create_instance_mutex(product_info.mutex_name), InstanceMutex::unavailable);
        EXPECT_TRUE(fs::is_empty(target));
        fs::remove(fallback());
    }
}

TEST_F(PrivateFolder, LockFileIsNamedAfterTheMutex) {
    const std::vector<std::pair<std::u16string, std::string>> names = {
        {u"Local\\VellumoSetupResolve", "VellumoSetupResolve.lock"},
        {u"Local\\a/b c", "a_2Fb_20c.lock"},
        {u"Global\\..", "Global_5C...lock"},
        {u"Local\\é_", "_C3_A9_5F.lock"},
    };
    for (const auto& [mutex, file] : names) {
        EXPECT_EQ(os().create_instance_mutex(mutex), InstanceMutex::created);
        EXPECT_TRUE(fs::is_regular_file(world_.runtime() / file)) << file;
        os().release_instance_mutex();
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(world_.runtime()), fs::directory_iterator()),
              static_cast<std::ptrdiff_t>(names.size()));
}

// A planted link, or anything else we can remove, gives way to our own lock
// file: the guard still holds, and nothing is reached through the link.
TEST_F(PrivateFolder, WhatIsPlantedAtTheLockFileNameGivesWay) {
    const fs::path lock = world_.runtime() / "VellumoSetupResolve.lock";
    const fs::path target = world_.root() / "target";
    const fs::path nowhere = world_.root() / "nowhere";
    struct Case {
        const char* what;
        std::function<void()> plant;
    };
    const std::vector<Case> cases = {
        {"a link to a file",
         [&] {
             test::write_text(target, "stays");
             fs::create_symlink(target, lock);
         }},
        {"a dangling link", [&] { fs::create_symlink(nowhere, lock); }},
        {"a link to a folder",
         [&] {
             fs::create_directory(target);
             fs::create_directory_symlink(target, lock);
         }},
        {"an empty folder", [&] { fs::create_directory(lock); }},
        {"a fifo", [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(target);
        fs::remove_all(lock);
        c.plant();
        EXPECT_EQ(os().create_instance_mutex(product_info.mutex_name), InstanceMutex::created);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(lock)));
        const test::Run second = world_.run(test::setup_program(), {"--silent"});
        os().release_instance_mutex();

        EXPECT_EQ(second.exit_code, 0);
        EXPECT_FALSE(fs::exists(world_.sandbox() / "result.json")) << "the second one ran";
        EXPECT_FALSE(fs::exists(nowhere));
        if (fs::is_directory(target)) {
            EXPECT_TRUE(fs::is_empty(target));
        } else if (fs::exists(target)) {
            EXPECT_EQ(test::read_text(target), "stays");
        }
    }
}

TEST_F(PrivateFolder, FolderAtTheLockFileNameThatCannotGoLeavesNoGuard) {
    const fs::path lock = world_.runtime() / "VellumoSetupResolve.lock";
    fs::create_directory(lock);
    test::write_text(lock / "inner", "kept");
    EXPECT_EQ(os().create_instance_mutex(product_info.mutex_name), InstanceMutex::unavailable);
    EXPECT_EQ(test::read_text(lock / "inner"), "kept");
}

TEST(Environment, PathIsTheValueUnchanged) {
    test::HermeticEnv env;
    env.set("VELLUMO_SETUP_SANDBOX", "/tmp/a\xff//b/../c/");
    EXPECT_EQ(os().environment_path(u"VELLUMO_SETUP_SANDBOX").native(), "/tmp/a\xff//b/../c/");
    env.set("VELLUMO_SETUP_SANDBOX", "");
    EXPECT_TRUE(os().environment_path(u"VELLUMO_SETUP_SANDBOX").empty());
    env.unset("VELLUMO_SETUP_SANDBOX");
    EXPECT_TRUE(os().environment_path(u"VELLUMO_SETUP_SANDBOX").empty());
}

}  // namespace
}  // namespace vellumo
