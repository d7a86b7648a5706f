#include "engine/uninstall.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "engine/install_record.hpp"
#include "engine/locations.hpp"
#include "hostile_record.hpp"
#include "odd_names.hpp"
#include "registry_fixture.hpp"
#include "sandbox_fixture.hpp"

namespace vellumo {
namespace {

using test::read_text;
using test::Reports;
using test::write_text;
namespace fs = std::filesystem;

const Reports full_uninstall_reports = {
    {10, "Reading what was installed"}, {45, "Removing files"}, {65, "Removing shortcuts"},
    {80, "Removing settings"},          {100, "Done"},
};

// Every path below `root`, relative to it; a link is listed, not followed.
std::set<std::string> tree(const fs::path& root) {
    std::set<std::string> paths;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root, ignored))
        paths.insert(entry.path().lexically_relative(root).string());
    return paths;
}

class Uninstall : public test::SandboxTest {
protected:
    void write_manifest(const nlohmann::json& manifest) {
        write_text(install_folder() / "install.json", manifest.dump(2));
    }
    bool entry_exists() {
        return test::registry_value_names(RegistryRoot::current_user, sandbox_uninstall_key())
            .has_value();
    }
};

TEST_F(Uninstall, InstallThenUninstallLeavesTheSandboxAsItWas) {
    place_python(0);
    place_resolve();
    const std::set<std::string> before = tree(sb());
    ASSERT_TRUE(run_install(recorder()).ok);
    write_text(settings_folder() / "resolve.json", "{}");
    write_text(settings_folder() / "companion.txt", "x");
    ASSERT_TRUE(entry_exists());

    reports.clear();
    const JobResult result = run_uninstall(recorder());
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.error, "");
    EXPECT_TRUE(result.notes.empty());
    EXPECT_EQ(result.manifest, nlohmann::json::object());
    EXPECT_EQ(reports, full_uninstall_reports);
    EXPECT_FALSE(entry_exists());

    // Kept: the local and roaming stop folders and Resolve's own script folder.
    std::set<std::string> expected = before;
    fs::path kept = "Roaming";
    expected.insert({"Local", kept.string()});
    for (const char* name :
         {"Blackmagic Design", "DaVinci Resolve", "Support", "Fusion", "Scripts", "Utility"})
        expected.insert((kept /= name).string());
    EXPECT_EQ(tree(sb()), expected);
}

TEST_F(Uninstall, RefusesWhileTheCompanionRuns) {
    ASSERT_TRUE(run_install(recorder()).ok);
    reports.clear();
    test::BackgroundProgram companion(env.root() / "bin" / "vellumocompanion.EXE");
    const JobResult result = run_uninstall(recorder());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Close VellumoCompanion first, then try again.");
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(fs::exists(install_folder() / "VellumoCompanion.exe"));
    EXPECT_TRUE(fs::exists(install_folder() / "install.json"));
    EXPECT_TRUE(entry_exists());
}

TEST_F(Uninstall, WithoutARecordRemovesTheDefaultFiles) {
    for (const fs::path& file : {install_folder() / "VellumoCompanion.exe",
                                 install_folder() / "SETUP.md", scripts_folder() / "Vellumo.py"})
        write_text(file, "x");
    ASSERT_TRUE(test::write_registry_string(RegistryRoot::current_user, sandbox_uninstall_key(),
                                            u"DisplayName", u"x"));
    const JobResult result = run_uninstall(recorder());
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(fs::exists(install_folder()));
    EXPECT_FALSE(fs::exists(scripts_folder() / "Vellumo.py"));
    EXPECT_TRUE(fs::exists(scripts_folder()));
    EXPECT_FALSE(entry_exists());
}

// A record that cannot be read, or that once crashed the reader, is no record.
TEST_F(Uninstall, UnreadableOrDeepRecordMeansTheDefaultList) {
    const std::vector<fs::path> defaults = {install_folder() / "VellumoCompanion.exe",
                                            install_folder() / "SETUP.md",
                                            scripts_folder() / "Vellumo.py"};
    struct Case {
        const char* what;
        std::function<void()> plant;
    };
    const Case cases[] = {
        {"install.json is a folder", [&] { fs::create_directories(install_folder() / "install.json"); }},
        {"install.json nested megabytes deep",
         [&] { write_text(install_folder() / "install.json", test::deeply_nested_record(2'000'000)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const fs::path& file : defaults) write_text(file, "x");
        c.plant();
        ASSERT_TRUE(run_uninstall(recorder()).ok);
        for (const fs::path& file : defaults) EXPECT_FALSE(fs::exists(file)) << file;
        EXPECT_FALSE(fs::exists(install_folder()));
    }
}

TEST_F(Uninstall, RecordedFilesOfOtherTypesAreSkipped) {
    const fs::path recorded = install_folder() / "extra.bin";
    struct Case {
        const char* what;
        nlohmann::json files;
        bool default_list_used;
    };
    const Case cases[] = {
        {"only numbers, objects and nulls", {1, nullptr, {{"a", 1}}}, true},
        {"empty array", nlohmann::json::array(), true},
        {"not an array", "a string", true},
        {"a mix removes only the strings", {1, recorded.string(), nullptr}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_text(install_folder() / "SETUP.md", "default");
        write_text(recorded, "recorded");
        write_text(install_folder() / "keep.txt", "keeps the folder");
        write_manifest({{"files", c.files}});
        ASSERT_TRUE(run_uninstall(recorder()).ok);
        EXPECT_EQ(fs::exists(install_folder() / "SETUP.md"), !c.default_list_used);
        EXPECT_EQ(fs::exists(recorded), c.default_list_used);
    }
}

TEST_F(Uninstall, PrunesEmptiedFoldersUpToTheInstallFolder) {
    const fs::path nested = install_folder() / "a" / "b" / "file.txt";
    write_text(nested, "x");
    write_text(install_folder() / "a" / "sibling" / "other.txt", "stays");
    write_text(install_folder() / "keep.txt", "x");
    write_manifest({{"files", {nested.string()}}});
    ASSERT_TRUE(run_uninstall(recorder()).ok);
    EXPECT_FALSE(fs::exists(install_folder() / "a" / "b"));
    EXPECT_TRUE(fs::exists(install_folder() / "a" / "sibling" / "other.txt"));
    EXPECT_TRUE(fs::exists(install_folder() / "keep.txt"));
}

TEST_F(Uninstall, LeavesRecordedPathsOutsideItsRoots) {
    const std::string install = install_folder().string();
    struct Case {
        const char* what;
        fs::path recorded;  // the text install.json holds
        fs::path real;      // the file it names
    };
    const std::vector<Case> cases = {
        {"outside every root", env.root() / "elsewhere" / "file.txt",
         env.root() / "elsewhere" / "file.txt"},
        {"a sibling whose name begins like the install folder", install + " Beta/file.txt",
         install + " Beta/file.txt"},
        {"letter case differs from the root",
         sb() / "local" / "Programs" / "Vellumo for DaVinci Resolve" / "file.txt",
         sb() / "local" / "Programs" / "Vellumo for DaVinci Resolve" / "file.txt"},
        {"a backslash where the root has a slash", install + "\\file.txt", install + "\\file.txt"},
        {"dot-dot out of the install folder", install + "/../../../outside.txt",
         sb() / "outside.txt"},
        {"dot-dot out of the roaming root", (sb() / "Roaming").string() + "/../roam.txt",
         sb() / "roam.txt"},
        {"dot component in the start menu", (sb() / "StartMenu").string() + "/./../menu.txt",
         sb() / "menu.txt"},
    };
    nlohmann::json files = nlohmann::json::array();
    for (const auto& c : cases) {
        write_text(c.real, c.what);
        files.push_back(c.recorded.string());
    }
    write_manifest({{"files", files}});
    ASSERT_TRUE(run_uninstall(recorder()).ok);
    for (const auto& c : cases) EXPECT_TRUE(fs::exists(c.real)) << c.what;
}

TEST_F(Uninstall, RemovesRecordedFilesUnderEachRoot) {
    const std::vector<fs::path> files = {install_folder() / "x.dat",
                                         sb() / "Roaming" / "Other" / "y.dat",
                                         sb() / "StartMenu" / "z.dat"};
    nlohmann::json recorded = nlohmann::json::array();
    for (const auto& f : files) {
        write_text(f, "x");
        recorded.push_back(f.string());
    }
    write_manifest({{"files", recorded}});
    ASSERT_TRUE(run_uninstall(recorder()).ok);
    for (const auto& f : files) EXPECT_FALSE(fs::exists(f)) << f;
    EXPECT_TRUE(fs::exists(sb() / "Roaming" / "Other")) << "no pruning outside the install folder";
}

// An earlier install in a folder whose name is not UTF-8 recorded U+FFFD
// where the byte was: its files go all the same. A record that leads out of a
// root, or a folder whose name really holds U+FFFD, stays untouched.
TEST_F(Uninstall, RemovesFilesRecordedWithReplacementCharacters) {
    const fs::path odd_root = test::odd_folder(env.root());
    const fs::path look_alike = env.root() / "Ren\xEF\xBF\xBD";  // U+FFFD in its name
    struct Case {
        const char* what;
        std::function<void()> arrange;
        fs::path stop;  // the local folder, which stays
    };
    const Case cases[] = {
        {"in the sandbox's path", [&] { sandbox_root = odd_root; }, odd_root / "Local"},
        {"in HOME", [&] { sandbox_root.clear(); test::set_home(env, odd_root); },
         odd_root / ".local" / "share"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(odd_root);
        fs::remove_all(look_alike);
        c.arrange();
        const fs::path folder = install_dir();
        const fs::path outside = odd_root / "outside.txt";
        const fs::path look_alike_file =
            look_alike / folder.lexically_relative(odd_root) / "SETUP.md";
        write_text(outside, "not ours");
        write_text(look_alike_file, "not ours");
        test::plant_earlier_install(
            folder, resolve_scripts_dir(),
            {test::with_replacement_characters(folder) + "/" +
                 odd_root.lexically_relative(folder).string() + "/outside.txt",
             look_alike_file.string()});

        const JobResult result = run_uninstall(recorder());
        EXPECT_TRUE(result.ok);
        EXPECT_FALSE(fs::exists(folder));
        EXPECT_FALSE(fs::exists(resolve_scripts_dir() / "Vellumo.py"));
        EXPECT_TRUE(fs::is_directory(c.stop));
        EXPECT_TRUE(fs::exists(outside));
        EXPECT_TRUE(fs::exists(look_alike_file));
    }
}

TEST_F(Uninstall, RemovesRecordedShortcutsOnlyFromTheStartMenu) {
    const fs::path menu = sb() / "StartMenu";
    struct Case {
        const char* what;
        fs::path recorded;
        fs::path real;
        bool removed;
    };
    const std::vector<Case> cases = {
        {"a shortcut in the start menu", menu / "Vellumo.lnk", menu / "Vellumo.lnk", true},
        {"nested in the start menu", menu / "Vellumo" / "Guide.lnk", menu / "Vellumo" / "Guide.lnk",
         true},
        {"extension in upper case", menu / "Upper.LNK", menu / "Upper.LNK", false},
        {"a file named only .lnk", menu / ".lnk", menu / ".lnk", false},
        {"not a shortcut", menu / "notes.txt", menu / "notes.txt", false},
        {"a shortcut outside the start menu", env.root() / "Desktop" / "Other.lnk",
         env.root() / "Desktop" / "Other.lnk", false},
        {"dot-dot out of the start menu", menu.string() + "/../Escaped.lnk", sb() / "Escaped.lnk",
         false},
    };
    nlohmann::json shortcuts = {42, nullptr};
    for (const auto& c : cases) {
        write_text(c.real, "x");
        shortcuts.push_back(c.recorded.string());
    }
    write_manifest({{"files", nlohmann::json::array()}, {"shortcuts", shortcuts}});
    ASSERT_TRUE(run_uninstall(recorder()).ok);
    for (const auto& c : cases) EXPECT_EQ(fs::exists(c.real), !c.removed) << c.what;
}

TEST_F(Uninstall, KeepsWhatIsNotItsOwn) {
    write_text(settings_folder() / "resolve.json", "{}");
    write_text(settings_folder() / "user-notes.txt", "someone else's");
    write_text(sb() / "Local" / "Programs" / "Another App" / "app.exe", "x");
    write_text(install_folder() / "VellumoCompanion.exe", "x");
    ASSERT_TRUE(run_uninstall(recorder()).ok);
    EXPECT_FALSE(fs::exists(settings_folder() / "resolve.json"));
    EXPECT_TRUE(fs::exists(settings_folder() / "user-notes.txt"));
    EXPECT_FALSE(fs::exists(install_folder()));
    EXPECT_TRUE(fs::exists(sb() / "Local" / "Programs" / "Another App" / "app.exe"));
}

TEST_F(Uninstall, FilesAlreadyGoneAreNoError) {
    const JobResult result = run_uninstall(recorder());
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(reports, full_uninstall_reports);
    EXPECT_FALSE(fs::exists(sb() / "Local"));  // never made: nothing to prune
}

// uninstall.exe held by another process for its first `busy_tries` removals,
// with a clock that moves a second on each look.
struct BusyUninstaller : platform::System {
    fs::path uninstaller;
    fs::path running;  // the running program; the real one when empty
    int busy_tries = 0;
    int tries = 0;
    std::uint64_t now = 0;

    platform::FileRemoval remove_file(const fs::path& path) override {
        if (path != uninstaller) return System::remove_file(path);
        if (++tries <= busy_tries) return platform::FileRemoval::in_use;
        return System::remove_file(path);
    }
    std::uint64_t tick_count_ms() override { return now += 1000; }
    fs::path executable_path() override {
        return running.empty() ? System::executable_path() : running;
    }
};

TEST_F(Uninstall, AnUninstallerInUseIsTriedAgainForAWhileUnlessItIsTheRunningProgram) {
    const struct {
        const char* what;
        int busy_tries;
        bool runs_it;
        bool removed;
        int tries;  // 0: not counted
    } cases[] = {
        {"free after three tries", 3, false, true, 4},
        {"busy past the limit", 1000, false, false, 0},
        {"the running program itself", 1000, true, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(run_install(recorder()).ok);
        BusyUninstaller system;
        system.uninstaller = install_folder() / "uninstall.exe";
        if (c.runs_it) system.running = system.uninstaller;
        system.busy_tries = c.busy_tries;
        {
            const platform::ScopedSystem scoped(system);
            EXPECT_TRUE(run_uninstall(recorder()).ok);
        }
        EXPECT_EQ(fs::exists(system.uninstaller), !c.removed);
        EXPECT_EQ(fs::exists(install_folder()), !c.removed);
        if (c.tries > 0) EXPECT_EQ(system.tries, c.tries);
        if (c.tries == 0) EXPECT_GT(system.tries, 1);
        fs::remove_all(sb());
    }
}

// Without a known folder every location would lie relative to the current
// folder: nothing is touched there, nor in the folders that do resolve.
TEST_F(Uninstall, UnresolvedKnownFolderTouchesNothing) {
    sandbox_root.clear();
    const fs::path work = env.root() / "work";
    const fs::path relative_folder = fs::path("Programs") / "Vellumo for DaVinci Resolve";
    const fs::path relative_scripts = fs::path("Blackmagic Design") / "DaVinci Resolve" /
                                      "Support" / "Fusion" / "Scripts" / "Utility";
    const nlohmann::json relative_record = {
        {"files", {(relative_folder / "VellumoCompanion.exe").string(),
                   (relative_scripts / "Vellumo.py").string()}}};
    for (const fs::path& file : {relative_folder / "VellumoCompanion.exe",
                                 relative_folder / "uninstall.exe", relative_scripts / "Vellumo.py",
                                 fs::path("Vellumo") / "resolve.json"})
        write_text(work / file, "not ours");
    write_text(work / relative_folder / "install.json", relative_record.dump());
    const fs::path installed = env.root() / "data" / relative_folder;
    write_text(installed / "install.json", "{}");
    write_text(installed / "uninstall.exe", "ours, but left");
    const std::u16string key = uninstall_key_prefix + product_info.uninstall_key_name;
    ASSERT_TRUE(test::write_registry_string(RegistryRoot::current_user, key, u"DisplayName", u"x"));
    fs::current_path(work);

    struct Case {
        const char* what;
        KnownFolder unresolved;
        fs::path location;
    };
    const Case cases[] = {
        {"local application data", KnownFolder::LocalAppData, relative_folder},
        {"roaming application data", KnownFolder::RoamingAppData, relative_scripts},
    };
    const std::set<std::string> work_before = tree(work), root_before = tree(env.root());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reports.clear();
        test::UnresolvedKnownFolder system(c.unresolved);
        platform::ScopedSystem use(system);
        const JobResult result = run_uninstall(recorder());
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, "Could not find " + c.location.string() + ".");
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(tree(work), work_before);
        EXPECT_EQ(tree(env.root()), root_before);
        EXPECT_TRUE(test::read_registry_value(RegistryRoot::current_user, key, u"DisplayName"));
    }
}

// The Start menu holds nothing the uninstall needs: without it, the rest goes.
TEST_F(Uninstall, UnresolvedStartMenuLeavesOnlyItsOwnFiles) {
    sandbox_root.clear();
    const fs::path work = env.root() / "work";
    const fs::path relative_shortcut = fs::path("Vellumo") / "Vellumo.lnk";
    write_text(work / relative_shortcut, "not ours");
    const fs::path folder = env.root() / "data" / "Programs" / "Vellumo for DaVinci Resolve";
    write_text(folder / "install.json",
               nlohmann::json{{"files", {(folder / "SETUP.md").string(), relative_shortcut.string()}},
                              {"shortcuts", {relative_shortcut.string()}}}
                   .dump());
    write_text(folder / "SETUP.md", "ours");
    fs::current_path(work);

    test::UnresolvedKnownFolder system(KnownFolder::Programs);
    platform::ScopedSystem use(system);
    EXPECT_TRUE(run_uninstall(recorder()).ok);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::exists(work / relative_shortcut));
}

// Relative sandboxes give relative roots; the recorded files still go.
TEST_F(Uninstall, WorksInRelativeSandboxes) {
    for (const char* relative : {"./sb", "../sb"}) {
        SCOPED_TRACE(relative);
        const fs::path work = env.root() / "work" / "here";
        fs::create_directories(work);
        const fs::path previous = fs::current_path();
        fs::current_path(work);
        sandbox_root = relative;
        payload_files.clear();
        const JobResult installed = run_install(recorder());
        EXPECT_TRUE(installed.ok) << installed.error;
        const fs::path folder = sandbox_root / "Local" / "Programs" / "Vellumo for DaVinci Resolve";
        EXPECT_TRUE(fs::exists(folder / "VellumoCompanion.exe"));
        EXPECT_EQ(load_install_manifest()["files"][0], (folder / "VellumoCompanion.exe").string());
        EXPECT_TRUE(run_uninstall(recorder()).ok);
        EXPECT_FALSE(fs::exists(folder));
        EXPECT_FALSE(fs::exists(sandbox_root / "Roaming" / "Blackmagic Design" / "DaVinci Resolve" /
                                "Support" / "Fusion" / "Scripts" / "Utility" / "Vellumo.py"));
        fs::current_path(previous);
        fs::remove_all(env.root() / "work");
    }
}

TEST(RemoveEmptyDirsUpward, StopsWhereItMust) {
    test::HermeticEnv env;
    const fs::path stop = env.root() / "stop";
    struct Case {
        const char* what;
        std::vector<const char*> dirs;   // made below stop
        std::vector<const char*> files;  // made below stop
        fs::path start;                  // relative to stop, or absolute
        std::vector<const char*> remaining;
        std::vector<std::pair<const char*, const char*>> links = {};  // below stop: name, target
    };
    const std::vector<Case> cases = {
        {"empty chain up to the stop", {"a/b/c"}, {}, "a/b/c", {}},
        {"a non-empty parent ends the walk", {"a/b/c"}, {"a/keep"}, "a/b/c", {"a", "a/keep"}},
        {"a non-empty start removes nothing", {"a/b"}, {"a/b/f"}, "a/b", {"a", "a/b", "a/b/f"}},
        {"the stop folder itself", {}, {}, ".", {}},
        {"a missing folder", {"a"}, {}, "a/missing", {"a"}},
        {"a file is no folder", {}, {"a/f"}, "a/f", {"a", "a/f"}},
        {"an empty path", {"a"}, {}, "", {"a"}},
        {"a link on the way is never entered", {"real/a"}, {}, "l/a", {"l", "real", "real/a"},
         {{"l", "real"}}},
        {"a link as the start is never removed", {"real"}, {}, "l", {"l", "real"}, {{"l", "real"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(stop);
        fs::create_directories(stop);
        for (const char* d : c.dirs) fs::create_directories(stop / d);
        for (const char* f : c.files) write_text(stop / f, "x");
        for (const auto& [name, target] : c.links) fs::create_directory_symlink(target, stop / name);
        const fs::path start = c.start.empty() ? fs::path() : c.start == "." ? stop : stop / c.start;
        remove_empty_dirs_upward(start, stop);
        EXPECT_TRUE(fs::is_directory(stop));
        std::set<std::string> expected(c.remaining.begin(), c.remaining.end());
        EXPECT_EQ(tree(stop), expected);
    }
}

TEST(LiesUnderRoot, ComparesTextAndRefusesDotComponents) {
    struct Case {
        const char* path;
        const char* root;
        bool under;
    };
    const Case cases[] = {
        {"/r/a", "/r", true},
        {"/r/a/b/c.txt", "/r", true},
        {"/r", "/r", false},
        {"/r/", "/r", true},  // the prefix alone: removing it fails harmlessly
        {"/rx/a", "/r", false},
        {"/R/a", "/r", false},
        {"/r/../a", "/r", false},
        {"/r/a/../../b", "/r", false},
        {"/r/./a", "/r", false},
        {"/r/a/..", "/r", false},
        {"/r/..a/b", "/r", true},
        {"/r/a..", "/r", true},
        {"./sb/Local/x", "./sb/Local", true},
        {"../sb/Local/x", "../sb/Local", true},
        {"../sb/Local/../x", "../sb/Local", false},
        {"/a", "", false},  // an unresolved known folder
        {"a", "", false},
    };
    for (const auto& c : cases) EXPECT_EQ(lies_under_root(c.path, c.root), c.under) << c.path;
}

}  // namespace
}  // namespace vellumo
