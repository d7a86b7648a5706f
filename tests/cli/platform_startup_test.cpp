// The Linux start-up operations: the user's private folder (lock files and
// the temporary uninstaller), the lock files' names, the environment.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "cli/other_users.hpp"
#include "cli/program.hpp"
#include "engine/text.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using platform::InstanceMutex;
using platform::os;

class PrivateFolder : public testing::Test {
protected:
    fs::path cache() const { return world_.root() / "cache"; }
    fs::path fallback() const { return cache() / "vellumo-setup" / "run"; }
    // The name a fallback in the shared temporary folder would have.
    fs::path shared_name() const {
        return world_.tmp() / ("vellumo-" + std::to_string(::geteuid()));
    }
    static unsigned mode_of(const fs::path& folder) {
        struct stat info {};
        ::lstat(folder.c_str(), &info);
        return info.st_mode & 07777;
    }
    static void make_folder(const fs::path& folder, unsigned mode, uid_t owner = ::geteuid()) {
        fs::create_directories(folder);
        fs::permissions(folder, fs::perms(mode), fs::perm_options::replace);
        ASSERT_EQ(::chown(folder.c_str(), owner, owner), 0);
    }

    test::ProgramWorld world_;
};

constexpr uid_t other_user = 12345;

TEST_F(PrivateFolder, IsTheRuntimeFolderWhenItIsPrivate) {
    EXPECT_EQ(os().temporary_folder(), world_.runtime());
    EXPECT_FALSE(fs::exists(fallback()));
}

// Without a private runtime folder: a folder of its own in the user's cache
// folder, whatever another user has put at a name in the shared temporary one.
TEST_F(PrivateFolder, OtherwiseAFolderOfItsOwnInTheCacheFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << test::needs_root;
    const fs::path linked = world_.root() / "linked-runtime";
    fs::create_directory_symlink(world_.runtime(), linked);
    make_folder(world_.root() / "shared", 0755);
    make_folder(world_.root() / "others", 0700, other_user);
    make_folder(shared_name(), 0700, other_user);

    for (const std::optional<fs::path>& runtime :
         {std::optional<fs::path>(), std::optional<fs::path>("runtime"),
          std::optional<fs::path>(linked), std::optional<fs::path>(world_.root() / "shared"),
          std::optional<fs::path>(world_.root() / "others"),
          std::optional<fs::path>(world_.root() / "none")}) {
        SCOPED_TRACE(runtime ? runtime->string() : "unset");
        if (runtime)
            world_.env().set("XDG_RUNTIME_DIR", *runtime);
        else
            world_.env().unset("XDG_RUNTIME_DIR");
        EXPECT_EQ(os().temporary_folder(), fallback());
        EXPECT_EQ(mode_of(fallback()), 0700u);
        EXPECT_EQ(mode_of(fallback().parent_path()), 0700u);
    }
}

// The cache folder follows the XDG rules: $XDG_CACHE_HOME when absolute,
// else $HOME/.cache, made private when it is missing.
TEST_F(PrivateFolder, CacheFolderIsTheXdgOne) {
    world_.env().unset("XDG_RUNTIME_DIR");
    const fs::path home_cache = world_.env().home() / ".cache";
    const std::pair<std::optional<std::string>, fs::path> cases[] = {
        {cache().string(), cache()},
        {std::nullopt, home_cache},
        {"", home_cache},
        {"relative/cache", home_cache},
    };
    for (const auto& [value, folder] : cases) {
        SCOPED_TRACE(value.value_or("unset"));
        if (value)
            world_.env().set("XDG_CACHE_HOME", *value);
        else
            world_.env().unset("XDG_CACHE_HOME");
        EXPECT_EQ(os().temporary_folder(), folder / "vellumo-setup" / "run");
        EXPECT_EQ(mode_of(folder), 0700u);
    }
}

// No folder of its own that is safe to use: no lock, no copy, and nothing
// written where anyone else could reach it.
TEST_F(PrivateFolder, FallbackThatIsNotPrivateIsNotUsed) {
    if (::geteuid() != 0) GTEST_SKIP() << test::needs_root;
    world_.env().unset("XDG_RUNTIME_DIR");
    const fs::path target = world_.root() / "planted";
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"the folder is a link",
         [&] {
             fs::create_directories(fallback().parent_path());
             fs::create_directory_symlink(target, fallback());
         }},
        {"the folder is open to others", [&] { make_folder(fallback(), 0755); }},
        {"the folder has another owner", [&] { make_folder(fallback(), 0700, other_user); }},
        {"a file at the folder's name",
         [&] {
             fs::create_directories(fallback().parent_path());
             test::write_text(fallback(), "");
         }},
        {"its parent is a link",
         [&] {
             fs::create_directories(cache());
             fs::create_directory_symlink(target, fallback().parent_path());
         }},
        {"its parent has another owner",
         [&] { make_folder(fallback().parent_path(), 0700, other_user); }},
        {"the cache folder is a link to another user's folder",
         [&] {
             make_folder(target, 0777, other_user);
             fs::create_directory_symlink(target, cache());
         }},
        {"the cache folder has another owner", [&] { make_folder(cache(), 0755, other_user); }},
    };
    for (const auto& [name, plant] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(cache());
        fs::remove_all(target);
        make_folder(target, 0700);
        plant();
        EXPECT_EQ(os().temporary_folder(), fs::path());
        EXPECT_EQ(os().create_instance_mutex(product_info.mutex_name), InstanceMutex::unavailable);
        EXPECT_TRUE(fs::is_empty(target));
        EXPECT_FALSE(fs::exists(shared_name()));
    }
}

// A cache folder that is a link (to another disk, to a tmpfs) is the user's
// own layout: followed, to a folder of the user's.
TEST_F(PrivateFolder, ALinkedCacheFolderIsFollowed) {
    world_.env().unset("XDG_RUNTIME_DIR");
    const fs::path elsewhere = world_.root() / "elsewhere";
    const fs::path home_cache = world_.env().home() / ".cache";
    const std::pair<std::optional<fs::path>, fs::path> cases[] = {
        {cache(), cache()},
        {std::nullopt, home_cache},
    };
    for (const auto& [value, link] : cases) {
        SCOPED_TRACE(link.string());
        if (value)
            world_.env().set("XDG_CACHE_HOME", *value);
        else
            world_.env().unset("XDG_CACHE_HOME");
        fs::remove_all(elsewhere);
        make_folder(elsewhere, 0755);
        fs::create_directory_symlink(elsewhere, link);

        EXPECT_EQ(os().temporary_folder(), link / "vellumo-setup" / "run");
        EXPECT_EQ(mode_of(elsewhere / "vellumo-setup" / "run"), 0700u);
        EXPECT_EQ(os().create_instance_mutex(product_info.mutex_name), InstanceMutex::created);
        os().release_instance_mutex();
        EXPECT_TRUE(
            fs::is_regular_file(elsewhere / "vellumo-setup" / "run" / "VellumoSetupResolve.lock"));
        fs::remove(link);
    }
}

// Once open, the folder is the one that every step works in, whatever another
// user has put at its name since.
TEST_F(PrivateFolder, StepsInTheHeldFolderGoThroughItsHandle) {
    world_.env().unset("XDG_RUNTIME_DIR");
    const platform::HeldFolder folder = os().open_temporary_folder();
    ASSERT_EQ(folder.path(), fallback());
    const fs::path moved = cache() / "moved" / "run";
    fs::rename(fallback().parent_path(), moved.parent_path());
    fs::create_directories(fallback());
    const fs::path name = "VellumoUninstall-1.exe";
    const fs::path planted_ran = world_.root() / "planted-ran";
    const std::string planted = "#!/bin/sh\ntouch '" + planted_ran.string() + "'\n";
    test::write_text(fallback() / name, planted);
    fs::permissions(fallback() / name, fs::perms(0755));

    // A shell, copied in and started from the held folder, tells where it runs.
    ASSERT_EQ(os().copy_to_new_file_in(folder, name, "/bin/sh"), platform::NewFile::written);
    EXPECT_EQ(test::read_text(fallback() / name), planted);
    const std::pair<fs::path, fs::path> starts[] = {
        {world_.work(), world_.work()},
        {fs::path(), moved},
    };
    for (const auto& [working_folder, expected] : starts) {
        SCOPED_TRACE(working_folder.string());
        const fs::path out = world_.root() / "where";
        fs::remove(out);
        const std::u16string line = u"\"" + path_wide(fallback() / name) + u"\" -c \"pwd -P > '" +
                                    path_wide(out) + u"'\"";
        ASSERT_TRUE(os().start_process(folder, name, line, working_folder));
        EXPECT_TRUE(test::eventually(
            [&] { return test::read_text(out).value_or("").ends_with("\n"); },
            std::chrono::seconds(60)));
        EXPECT_EQ(test::read_text(out), fs::canonical(expected).string() + "\n");
    }
    EXPECT_FALSE(fs::exists(planted_ran));

    EXPECT_TRUE(os().remove_file_in(folder, name));
    EXPECT_FALSE(fs::exists(moved / name));
    EXPECT_EQ(test::read_text(fallback() / name), planted);
}

// The copy's own deletion, two seconds after it started, takes the copy from
// the private folder, although another folder has taken its name meanwhile.
TEST_F(PrivateFolder, DelayedDeletionInThePrivateFolderGoesThroughItsHandle) {
    world_.env().unset("XDG_RUNTIME_DIR");
    const fs::path copy = os().temporary_folder() / "VellumoUninstall-1.exe";
    ASSERT_EQ(copy.parent_path(), fallback());
    test::write_text(copy, "the copy");
    ASSERT_TRUE(os().start_delayed_delete(copy));
    const fs::path moved = cache() / "moved" / "run";
    fs::rename(fallback().parent_path(), moved.parent_path());
    fs::create_directories(fallback());
    test::write_text(copy, "another's");

    EXPECT_TRUE(test::eventually([&] { return !fs::exists(moved / copy.filename()); }));
    EXPECT_EQ(test::read_text(copy), "another's");
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
