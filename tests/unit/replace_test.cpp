#include "engine/replace.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <stop_token>
#include <thread>
#include <vector>

#include "engine/text.hpp"
#include "file_tree.hpp"
#include "hermetic_env.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;

using test::Tree;
using test::tree_of;

void write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

constexpr const char* companion = "VellumoCompanion.exe";

class ReplaceFile : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(dir); }

    // The folder is the trusted root of the link rule unless told otherwise.
    bool replace(const fs::path& target, const std::string& bytes,
                 std::optional<fs::path> trusted_root = std::nullopt) {
        error = "untouched";
        return write_file_replacing(target, trusted_root.value_or(dir), bytes_of(bytes), error);
    }

    test::HermeticEnv env;
    const fs::path dir = env.root() / "install";
    std::string error;
};

struct WriteCase {
    const char* what;
    std::function<void(const fs::path& dir)> setup;
    const char* target;  // below the folder
    std::string bytes;
    Tree after;
};

TEST_F(ReplaceFile, WritesTheTargetThroughATemporaryFile) {
    const auto nothing = [](const fs::path&) {};
    const WriteCase cases[] = {
        {"new target", nothing, companion, "new bytes", {{companion, "new bytes"}}},
        {"existing target", [](const fs::path& d) { write(d / companion, "old and longer bytes"); },
         companion, "new bytes", {{companion, "new bytes"}}},
        {"missing parent folders", nothing, "a/b/SETUP.md", "guide",
         {{"a", "<dir>"}, {"a/b", "<dir>"}, {"a/b/SETUP.md", "guide"}}},
        {"empty bytes", [](const fs::path& d) { write(d / "SETUP.md", "old"); }, "SETUP.md", "",
         {{"SETUP.md", ""}}},
        {"a leftover temporary file is replaced",
         [](const fs::path& d) { write(d / "SETUP.md.vellumo-new", "stale and much longer"); },
         "SETUP.md", "guide", {{"SETUP.md", "guide"}}},
        {"a link at the temporary name is not written through",
         [](const fs::path& d) {
             write(d / "elsewhere", "keep");
             fs::create_symlink("elsewhere", d / "SETUP.md.vellumo-new");
         },
         "SETUP.md", "guide", {{"SETUP.md", "guide"}, {"elsewhere", "keep"}}},
        {"a link beside the path is no link in its way",
         [](const fs::path& d) {
             fs::create_directory(d / "real");
             fs::create_directory_symlink("real", d / "link");
         },
         "real/Vellumo.py", "script",
         {{"link", "-> real"}, {"real", "<dir>"}, {"real/Vellumo.py", "script"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directory(dir);
        c.setup(dir);
        EXPECT_TRUE(replace(dir / c.target, c.bytes));
        EXPECT_EQ(error, "untouched");
        EXPECT_EQ(tree_of(dir), c.after);
    }
}

TEST_F(ReplaceFile, ATargetThatCannotBeReplacedIsMovedAside) {
    // rename cannot replace a non-empty folder, but it can move it.
    fs::create_directory(dir / companion);
    write(dir / companion / "inside", "old");
    const std::uint64_t before = platform::os().tick_count_ms();

    ASSERT_TRUE(replace(dir / companion, "new"));
    const std::uint64_t after = platform::os().tick_count_ms();

    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(read(dir / companion), "new");
    std::vector<std::string> backups;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name != companion) backups.push_back(name);
    }
    ASSERT_EQ(backups.size(), 1u);
    const std::string prefix = std::string(companion) + ".old-";
    ASSERT_TRUE(backups[0].starts_with(prefix)) << backups[0];
    const std::string ticks = backups[0].substr(prefix.size());
    const std::uint64_t value = std::stoull(ticks);
    EXPECT_EQ(std::to_string(value), ticks);  // decimal, no leading zeros
    EXPECT_GE(value, before);
    EXPECT_LE(value, after);
    EXPECT_EQ(read(dir / backups[0] / "inside"), "old");
}

// Fails chosen moves, fixes the tick count and records what is asked, by
// file name.
struct MoveSystem : platform::System {
    bool fail_replacing = false;
    bool fail_aside = false;        // the no-overwrite move of the target
    bool fail_moving_in = false;    // the no-overwrite move of the new file
    bool fail_putting_back = false; // the no-overwrite move of the backup
    // Another writer's file takes the target's name just before the new file
    // would go in, once.
    bool rival_before_moving_in = false;
    std::vector<std::string> calls;

    bool move_file_replacing(const fs::path& from, const fs::path& to) override {
        calls.push_back("replace " + from.filename().string() + " " + to.filename().string());
        return !fail_replacing && System::move_file_replacing(from, to);
    }
    bool move_file_no_overwrite(const fs::path& from, const fs::path& to,
                                bool write_through) override {
        calls.push_back((write_through ? "no-overwrite, write-through " : "no-overwrite ") +
                        from.filename().string() + " " + to.filename().string());
        const bool moving_in = from.native().ends_with(temporary_suffix);
        const bool putting_back = from.native().find(backup_marker) != std::string::npos;
        if (moving_in && rival_before_moving_in) {
            rival_before_moving_in = false;
            write(to, "theirs");
        }
        if (moving_in ? fail_moving_in : putting_back ? fail_putting_back : fail_aside)
            return false;
        return System::move_file_no_overwrite(from, to, write_through);
    }
    std::uint64_t tick_count_ms() override {
        calls.push_back("ticks");
        return 4711;
    }
};

struct MoveCase {
    const char* what;
    bool fail_replacing, fail_aside, fail_moving_in, fail_putting_back;
    bool earlier_backup;  // VellumoCompanion.exe.old-4711 is there already
    bool result;
    std::vector<std::string> calls;
    Tree after;
};

TEST_F(ReplaceFile, FallsBackToMovingTheTargetAside) {
    const std::string replaced = "Could not replace VellumoCompanion.exe. Close it and try again.";
    const std::string direct = "replace VellumoCompanion.exe.vellumo-new VellumoCompanion.exe";
    const std::string aside = "no-overwrite VellumoCompanion.exe VellumoCompanion.exe.old-4711";
    const std::string in =
        "no-overwrite, write-through VellumoCompanion.exe.vellumo-new VellumoCompanion.exe";
    const std::string back = "no-overwrite VellumoCompanion.exe.old-4711 VellumoCompanion.exe";
    const MoveCase cases[] = {
        {"direct replacement", false, false, false, false, false, true, {direct},
         {{companion, "new"}}},
        {"moved aside", true, false, false, false, false, true, {direct, "ticks", aside, in},
         {{companion, "new"}, {"VellumoCompanion.exe.old-4711", "old"}}},
        {"neither works", true, true, false, false, false, false, {direct, "ticks", aside},
         {{companion, "old"}}},
        {"an earlier backup is never overwritten", true, false, false, false, true, false,
         {direct, "ticks", aside},
         {{companion, "old"}, {"VellumoCompanion.exe.old-4711", "earlier"}}},
        {"moving the new file in fails: the target goes back", true, false, true, false, false,
         false, {direct, "ticks", aside, in, back}, {{companion, "old"}}},
        {"and when that fails too, it stays under its backup name", true, false, true, true,
         false, false, {direct, "ticks", aside, in, back},
         {{"VellumoCompanion.exe.old-4711", "old"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directory(dir);
        write(dir / companion, "old");
        if (c.earlier_backup) write(dir / "VellumoCompanion.exe.old-4711", "earlier");
        MoveSystem system;
        system.fail_replacing = c.fail_replacing;
        system.fail_aside = c.fail_aside;
        system.fail_moving_in = c.fail_moving_in;
        system.fail_putting_back = c.fail_putting_back;
        platform::ScopedSystem use{system};

        EXPECT_EQ(replace(dir / companion, "new"), c.result);
        EXPECT_EQ(error, c.result ? "untouched" : replaced);
        EXPECT_EQ(system.calls, c.calls);
        EXPECT_EQ(tree_of(dir), c.after);
    }
}

// Checks replace one report side by side: each has a temporary file of its
// own, never takes another's, and tries again when another's moves get in
// its way.
TEST_F(ReplaceFile, SeveralWritersUseNamesOfTheirOwnAndTryAgain) {
    const std::string pid = std::to_string(platform::os().current_process_id());
    const std::string temporary = "check.json." + pid + ".vellumo-new";
    const std::string backup = "check.json.old-4711-" + pid;
    const std::string direct = "replace " + temporary + " check.json";
    const std::string aside = "no-overwrite check.json " + backup;
    const std::string in = "no-overwrite, write-through " + temporary + " check.json";
    const std::string back = "no-overwrite " + backup + " check.json";
    // Another writer's temporary files, which must survive.
    const Tree others = {{"check.json.vellumo-new", "a guarded writer's"},
                         {"check.json.1.vellumo-new", "process 1's"}};
    const auto with_others = [&](Tree tree) {
        tree.insert(others.begin(), others.end());
        return tree;
    };
    struct Case {
        const char* what;
        bool fail_replacing, fail_aside, rival;
        bool result;
        std::optional<std::vector<std::string>> calls;  // nullopt: not looked at
        Tree after;
    };
    const Case cases[] = {
        {"direct replacement", false, false, false, true, {{direct}},
         with_others({{"check.json", "new"}})},
        {"moved aside: the backup goes once the new file is in", true, false, false, true,
         {{direct, "ticks", aside, in}}, with_others({{"check.json", "new"}})},
        {"another's file took the name: tried again", true, false, true, true,
         {{direct, "ticks", aside, in, back, direct, "ticks", aside, in}},
         with_others({{"check.json", "new"}})},
        {"nothing works: given up after some attempts", true, true, false, false, std::nullopt,
         with_others({{"check.json", "old"}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directory(dir);
        write(dir / "check.json", "old");
        for (const auto& [name, content] : others) write(dir / name, content);
        MoveSystem system;
        system.fail_replacing = c.fail_replacing;
        system.fail_aside = c.fail_aside;
        system.rival_before_moving_in = c.rival;
        platform::ScopedSystem use{system};

        error = "untouched";
        EXPECT_EQ(write_text_file_replacing(dir / "check.json", dir, "new", error,
                                            Writers::several),
                  c.result);
        EXPECT_EQ(error, c.result ? "untouched"
                                  : "Could not replace check.json. Close it and try again.");
        if (c.calls) {
            EXPECT_EQ(system.calls, *c.calls);
        }
        EXPECT_EQ(tree_of(dir), c.after);
    }
}

struct RefusalCase {
    const char* what;
    std::function<void(const fs::path& dir)> setup;
    const char* target;   // below the folder
    std::string message;  // "{dir}" stands for the folder's text
};

TEST_F(ReplaceFile, RefusesLinksAndReportsAFolderItCannotWriteTo) {
    const RefusalCase cases[] = {
        {"parent folder is a link",
         [](const fs::path& d) {
             fs::create_directory(d / "real");
             fs::create_directory_symlink("real", d / "link");
         },
         "link/Vellumo.py", "A link is in the way of Vellumo.py."},
        {"target is a link",
         [](const fs::path& d) {
             write(d / "elsewhere", "keep");
             fs::create_symlink("elsewhere", d / "Vellumo.py");
         },
         "Vellumo.py", "A link is in the way of Vellumo.py."},
        {"target is a dangling link",
         [](const fs::path& d) { fs::create_symlink("missing", d / "Vellumo.py"); }, "Vellumo.py",
         "A link is in the way of Vellumo.py."},
        {"a link further up, below the trusted folder",
         [](const fs::path& d) {
             fs::create_directories(d / "real/sub");
             fs::create_directory_symlink("real", d / "link");
         },
         "link/sub/Vellumo.py", "A link is in the way of Vellumo.py."},
        {"a link further up whose folders are still to be made",
         [](const fs::path& d) {
             fs::create_directory(d / "real");
             fs::create_directory_symlink("real", d / "link");
         },
         "link/a/b/Vellumo.py", "A link is in the way of Vellumo.py."},
        {"a folder at the temporary name",
         [](const fs::path& d) {
             fs::create_directory(d / "Vellumo.py.vellumo-new");
             write(d / "Vellumo.py.vellumo-new/inside", "keep");
         },
         "Vellumo.py", "Could not write to {dir}."},
        {"a file where the parent folder must go",
         [](const fs::path& d) { write(d / "blocker", "keep"); }, "blocker/Vellumo.py",
         "Could not write to {dir}/blocker."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directory(dir);
        c.setup(dir);
        const Tree before = tree_of(dir);

        EXPECT_FALSE(replace(dir / c.target, "script"));
        std::string message = c.message;
        if (const auto at = message.find("{dir}"); at != message.npos)
            message.replace(at, 5, path_utf8(dir));
        EXPECT_EQ(error, message);
        EXPECT_EQ(tree_of(dir), before);  // nothing written, nothing removed
    }
}

// Runs in the child of a death test, so that this process keeps its limits: a
// file size limit makes the write fail as a full disk would.
[[noreturn]] void replace_beyond_the_file_size_limit(const fs::path& target) {
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t unlimited = limit.rlim_cur;
    limit.rlim_cur = 10;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, SIG_IGN);
    std::string error;
    const bool ok = write_file_replacing(target, target.parent_path(),
                                         bytes_of(std::string(100, 'x')), error);
    limit.rlim_cur = unlimited;  // the report below goes to a file as well
    ::setrlimit(RLIMIT_FSIZE, &limit);
    fs::path temporary = target;
    temporary += ".vellumo-new";
    std::fprintf(stderr, "ok=%d error=%s temporary=%d target=%s\n", ok, error.c_str(),
                 fs::exists(temporary) ? 1 : 0, read(target).c_str());
    std::exit(0);
}

using ReplaceFileDeathTest = ReplaceFile;

TEST_F(ReplaceFileDeathTest, ReportsAFullDiskAndRemovesTheTemporaryFile) {
    write(dir / companion, "old");
    EXPECT_EXIT(replace_beyond_the_file_size_limit(dir / companion), ::testing::ExitedWithCode(0),
                "ok=0 error=The disk may be full\\. temporary=0 target=old");
}

TEST_F(ReplaceFile, CopiesAFileThroughATemporaryFile) {
    const fs::path source = env.root() / "setup";
    write(source, "program");
    fs::permissions(source, fs::perms(0755), fs::perm_options::replace);
    write(dir / "uninstall.exe", "earlier");

    error = "untouched";
    ASSERT_TRUE(copy_file_replacing(source, dir / "uninstall.exe", dir, error));
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(tree_of(dir), (Tree{{"uninstall.exe", "program"}}));
    EXPECT_EQ(::access((dir / "uninstall.exe").c_str(), X_OK), 0) << "still a program";

    // An unreadable source leaves the earlier file and no temporary one.
    write(dir / "uninstall.exe", "earlier");
    EXPECT_FALSE(copy_file_replacing(env.root() / "missing", dir / "uninstall.exe", dir, error));
    EXPECT_EQ(tree_of(dir), (Tree{{"uninstall.exe", "earlier"}}));
}

// Another process of the user keeps putting a link at the temporary name,
// taking away whatever is there first, while the file is replaced again and
// again: the bytes never reach the link's target, and the target is never
// left a link.
TEST_F(ReplaceFile, ALinkPlantedAgainAndAgainAtTheTemporaryNameIsNeverWrittenThrough) {
    const fs::path outside = env.root() / "outside";
    write(outside, "keep");
    const fs::path target = dir / "SETUP.md";
    const fs::path temporary = dir / "SETUP.md.vellumo-new";

    const std::jthread planter([&](const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            ::unlink(temporary.c_str());
            ::symlink(outside.c_str(), temporary.c_str());
        }
    });
    for (int round = 0; round < 500; ++round) {
        std::string ignored;  // some rounds lose the name to the link: that is allowed
        write_file_replacing(target, dir, bytes_of("guide"), ignored);
        ASSERT_FALSE(platform::os().is_link(target)) << "round " << round;
        ASSERT_EQ(read(outside), "keep") << "round " << round;
    }
}

TEST_F(ReplaceFile, WorksOnARelativeTarget) {
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    const bool ok = replace("SETUP.md", "guide", fs::path());
    fs::current_path(previous);
    EXPECT_TRUE(ok);
    EXPECT_EQ(tree_of(dir), (Tree{{"SETUP.md", "guide"}}));
}

class RemoveLeftovers : public ::testing::Test {
protected:
    test::HermeticEnv env;
    const fs::path dir = env.root() / "install";
};

TEST_F(RemoveLeftovers, DeletesBackupAndTemporaryEntriesOnly) {
    fs::create_directory(dir);
    for (const char* name : {"VellumoCompanion.exe.old-4711", "SETUP.md.vellumo-new", "notes.txt",
                             "x.old-", ".vellumo-new", "a.VELLUMO-NEW", "b.OLD-1"})
        write(dir / name, name);
    write(env.root() / "elsewhere", "keep");
    fs::create_symlink(env.root() / "elsewhere", dir / "link.old-2");
    fs::create_directory(dir / "old.old-1");
    fs::create_directory(dir / "full.old-2");
    write(dir / "full.old-2/inside.vellumo-new", "keep");
    fs::create_directory(dir / "sub");
    write(dir / "sub/deeper.old-3", "keep");

    remove_leftovers(dir);

    EXPECT_EQ(tree_of(dir), (Tree{{".vellumo-new", ".vellumo-new"},
                                  {"a.VELLUMO-NEW", "a.VELLUMO-NEW"},
                                  {"b.OLD-1", "b.OLD-1"},
                                  {"full.old-2", "<dir>"},
                                  {"full.old-2/inside.vellumo-new", "keep"},
                                  {"notes.txt", "notes.txt"},
                                  {"sub", "<dir>"},
                                  {"sub/deeper.old-3", "keep"}}));
    EXPECT_EQ(read(env.root() / "elsewhere"), "keep");  // the link went, not its target
}

TEST_F(RemoveLeftovers, IgnoresWhatIsNotAFolder) {
    remove_leftovers(dir);  // missing
    EXPECT_FALSE(fs::exists(dir));

    write(env.root() / "x.old-1", "keep");
    remove_leftovers(env.root() / "x.old-1");
    EXPECT_EQ(read(env.root() / "x.old-1"), "keep");
}

// The moves themselves, on the real file system.
class FileMoves : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(dir); }
    test::HermeticEnv env;
    const fs::path dir = env.root() / "moves";
};

TEST_F(FileMoves, TheReplacingMoveReplacesAnExistingFile) {
    write(dir / "from", "new");
    write(dir / "to", "old");
    EXPECT_TRUE(platform::os().move_file_replacing(dir / "from", dir / "to"));
    EXPECT_EQ(tree_of(dir), (Tree{{"to", "new"}}));

    EXPECT_FALSE(platform::os().move_file_replacing(dir / "from", dir / "to"));  // gone
    EXPECT_EQ(tree_of(dir), (Tree{{"to", "new"}}));
}

TEST_F(FileMoves, TheNoOverwriteMoveNeverReplaces) {
    for (const bool write_through : {false, true}) {
        SCOPED_TRACE(write_through ? "write-through" : "plain");
        fs::remove_all(dir);
        fs::create_directory(dir);
        write(dir / "file", "file");
        write(dir / "taken", "taken");
        fs::create_directory(dir / "folder");
        write(dir / "folder/inside", "inside");

        const auto move = [&](const char* from, const char* to) {
            return platform::os().move_file_no_overwrite(dir / from, dir / to, write_through);
        };
        EXPECT_FALSE(move("file", "taken"));
        EXPECT_FALSE(move("folder", "taken"));
        EXPECT_TRUE(move("file", "moved"));
        EXPECT_TRUE(move("folder", "aside"));
        EXPECT_EQ(tree_of(dir), (Tree{{"aside", "<dir>"},
                                      {"aside/inside", "inside"},
                                      {"moved", "file"},
                                      {"taken", "taken"}}));
    }
}

// Exclusive creation of a new file: whatever stands at the name, a link
// above all, is neither written through nor replaced.
TEST_F(FileMoves, NewFilesAreOnlyEverMadeAfresh) {
    const fs::path source = env.root() / "source";
    write(source, "copied");
    const std::vector<std::uint8_t> bytes = bytes_of("written");
    using platform::NewFile;
    struct Case {
        const char* what;
        std::function<void(const fs::path& d)> setup;
        NewFile result;
        Tree after;
    };
    const auto nothing = [](const fs::path&) {};
    const Case cases[] = {
        {"a free name", nothing, NewFile::written, {{"new", "{bytes}"}}},
        {"an existing file", [](const fs::path& d) { write(d / "new", "old"); },
         NewFile::not_created, {{"new", "old"}}},
        {"a link to a file",
         [](const fs::path& d) {
             write(d / "elsewhere", "keep");
             fs::create_symlink("elsewhere", d / "new");
         },
         NewFile::not_created, {{"elsewhere", "keep"}, {"new", "-> elsewhere"}}},
        {"a dangling link", [](const fs::path& d) { fs::create_symlink("missing", d / "new"); },
         NewFile::not_created, {{"new", "-> missing"}}},
        {"a folder", [](const fs::path& d) { fs::create_directory(d / "new"); },
         NewFile::not_created, {{"new", "<dir>"}}},
    };
    for (const bool copy : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(copy ? "copy: " : "write: ") + c.what);
            fs::remove_all(dir);
            fs::create_directory(dir);
            c.setup(dir);
            const NewFile result = copy ? platform::os().copy_to_new_file(source, dir / "new")
                                        : platform::os().write_new_file(dir / "new", bytes);
            EXPECT_EQ(result, c.result);
            Tree after = c.after;
            for (auto& [name, content] : after)
                if (content == "{bytes}") content = copy ? "copied" : "written";
            EXPECT_EQ(tree_of(dir), after);
            EXPECT_EQ(read(source), "copied");
        }
    }
    // A source that cannot be read makes no file at all.
    fs::remove_all(dir);
    fs::create_directory(dir);
    EXPECT_EQ(platform::os().copy_to_new_file(env.root() / "missing", dir / "new"),
              NewFile::not_written);
    EXPECT_EQ(tree_of(dir), Tree{});
}

// Tree removal: a link anywhere in the tree, the top included, goes as a
// link, and nothing is removed through it.
class TreeRemoval : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(outside / "sub");
        write(outside / "file", "keep");
        write(outside / "sub" / "deeper", "keep too");
    }

    test::HermeticEnv env;
    const fs::path tree = env.root() / "tree";
    const fs::path outside = env.root() / "outside";
};

struct TreeCase {
    const char* what;
    std::function<void(const fs::path& tree, const fs::path& outside)> setup;
};

void plain_tree(const fs::path& tree) {
    fs::create_directories(tree / "a" / "b");
    fs::create_directories(tree / "empty");
    write(tree / "file", "x");
    write(tree / "a" / "b" / "file", "y");
}

TEST_F(TreeRemoval, RemovesTheTreeAndNothingALinkInItPointsTo) {
    using Paths = const fs::path&;
    const TreeCase cases[] = {
        {"a tree without links", [](Paths t, Paths) { plain_tree(t); }},
        {"a single file", [](Paths t, Paths) { write(t, "x"); }},
        {"the top is a link to a folder",
         [](Paths t, Paths o) { fs::create_directory_symlink(o, t); }},
        {"the top is a link to a file",
         [](Paths t, Paths o) { fs::create_symlink(o / "file", t); }},
        {"the top is a dangling link",
         [](Paths t, Paths o) { fs::create_symlink(o / "missing", t); }},
        {"a link to a folder deep inside",
         [](Paths t, Paths o) {
             plain_tree(t);
             fs::create_directory_symlink(o, t / "a" / "b" / "link");
         }},
        {"a relative link to a folder",
         [](Paths t, Paths) {
             plain_tree(t);
             fs::create_directory_symlink("../../outside/sub", t / "a" / "link");
         }},
        {"a link to a file deep inside",
         [](Paths t, Paths o) {
             plain_tree(t);
             fs::create_symlink(o / "file", t / "a" / "b" / "link");
         }},
        {"a dangling link deep inside",
         [](Paths t, Paths o) {
             plain_tree(t);
             fs::create_symlink(o / "missing", t / "a" / "link");
         }},
        {"a link back to the tree itself",
         [](Paths t, Paths) {
             plain_tree(t);
             fs::create_directory_symlink(t, t / "a" / "b" / "loop");
         }},
    };
    const Tree outside_before = tree_of(outside);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.setup(tree, outside);
        EXPECT_TRUE(platform::os().remove_tree(tree));
        EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
        EXPECT_EQ(tree_of(outside), outside_before);
    }
}

TEST_F(TreeRemoval, NothingThereCountsAsGone) {
    EXPECT_TRUE(platform::os().remove_tree(tree));
    EXPECT_TRUE(platform::os().remove_tree(outside / "file" / "below-a-file"));
    EXPECT_EQ(tree_of(outside),
              (Tree{{"file", "keep"}, {"sub", "<dir>"}, {"sub/deeper", "keep too"}}));
}

TEST_F(TreeRemoval, WorksOnARelativePath) {
    plain_tree(tree);
    const fs::path previous = fs::current_path();
    fs::current_path(env.root());
    const bool removed = platform::os().remove_tree("tree");
    fs::current_path(previous);
    EXPECT_TRUE(removed);
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
}

TEST(TickCount, CountsMillisecondsSinceTheSystemStarted) {
    double uptime_seconds = 0;
    std::ifstream("/proc/uptime") >> uptime_seconds;
    const double ticks = static_cast<double>(platform::os().tick_count_ms());
    EXPECT_NEAR(ticks, uptime_seconds * 1000, 5000);
}

}  // namespace
}  // namespace vellumo
