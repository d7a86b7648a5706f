// --silent: the job in the program's own process, result.json, the registry
// store, and the quiet exit while another instance runs.
#include <gtest/gtest.h>

#include <map>

#include <nlohmann/json.hpp>

#include "cli/program.hpp"
#include "engine/payload.hpp"
#include "engine/registry.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using test::ProgramWorld;
using test::read_text;
using test::setup_program;

constexpr const char* installed_result = R"({
  "error": "",
  "notes": [
    "python",
    "no-resolve"
  ],
  "ok": true
})";

constexpr const char* uninstalled_result = R"({
  "error": "",
  "notes": [],
  "ok": true
})";

// The Uninstall entry's display name as the setup sees it in `sandbox`
// (read through the registry operations, with the program's environment).
std::u16string uninstall_display_name(const fs::path& sandbox) {
    const fs::path saved = sandbox_root;
    sandbox_root = sandbox;
    const std::u16string name =
        reg_get_string(RegistryRoot::current_user,
                       uninstall_key_prefix + product_info.uninstall_key_name, u"DisplayName");
    sandbox_root = saved;
    return name;
}

TEST(Silent, InstallThenUninstallInASandbox) {
    ProgramWorld world;
    const test::Run install = world.run(setup_program(), {"--silent"});
    EXPECT_EQ(install.exit_code, 0);
    EXPECT_EQ(read_text(world.sandbox() / "result.json"), installed_result);
    EXPECT_TRUE(fs::exists(world.install_folder() / "install.json"));
    EXPECT_TRUE(fs::exists(world.install_folder() / "uninstall.exe"));
    EXPECT_EQ(uninstall_display_name(world.sandbox()), u"Vellumo for DaVinci Resolve");
    // The registry store lies outside the sandbox, in the user's state folder.
    EXPECT_TRUE(fs::exists(world.root() / "state" / "vellumo-setup" / "hkcu.sqlite3"));

    const test::Run uninstall = world.run(setup_program(), {"--uninstall", "--silent"});
    EXPECT_EQ(uninstall.exit_code, 0);
    EXPECT_EQ(read_text(world.sandbox() / "result.json"), uninstalled_result);
    EXPECT_FALSE(fs::exists(world.install_folder()));
    EXPECT_EQ(uninstall_display_name(world.sandbox()), u"");
    // Started outside the install folder: no copy was handed the job.
    EXPECT_EQ(test::uninstaller_copies(world.runtime()), std::vector<fs::path>{});
}

TEST(Silent, FailedInstallExits1WithTheReason) {
    ProgramWorld world;
    const test::Run run = world.run(test::damaged_pack_program(), {"--silent"});
    EXPECT_EQ(run.exit_code, 1);
    const auto result = nlohmann::json::parse(read_text(world.sandbox() / "result.json").value());
    EXPECT_EQ(result["ok"], false);
    EXPECT_EQ(result["error"], damaged_installer_message());
    EXPECT_EQ(result["notes"], nlohmann::json::array());
}

TEST(Silent, WithoutSandboxWritesNoResult) {
    ProgramWorld world;
    const test::Run run = world.run_as(setup_program(), {"--silent"}, std::nullopt);
    EXPECT_EQ(run.exit_code, 0);
    // Installed for the (hermetic) user instead.
    EXPECT_TRUE(fs::exists(world.root() / "data" / "Programs" / "Vellumo for DaVinci Resolve" /
                           "install.json"));
    for (const auto& entry : fs::recursive_directory_iterator(world.root()))
        EXPECT_NE(entry.path().filename(), "result.json") << entry.path();
}

TEST(Silent, UnwritableResultDoesNotChangeTheExitCode) {
    ProgramWorld world;
    fs::create_directory(world.sandbox() / "result.json");  // in the way
    EXPECT_EQ(world.run(setup_program(), {"--silent"}).exit_code, 0);
    EXPECT_TRUE(fs::exists(world.install_folder() / "install.json"));
}

// A link planted at a result file's name in the sandbox is not written
// through; the check then counts its report as not written.
TEST(ResultFiles, ALinkAtTheirNameIsNotWrittenThrough) {
    struct Case {
        std::vector<std::string> arguments;
        const char* file;
        int exit_code;
    };
    const Case cases[] = {{{"--silent"}, "result.json", 0}, {{"--check"}, "check.json", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ProgramWorld world;
        const fs::path outside = world.root() / "outside.txt";
        test::write_text(outside, "keep");
        fs::create_symlink(outside, world.sandbox() / c.file);
        EXPECT_EQ(world.run(setup_program(), c.arguments).exit_code, c.exit_code);
        EXPECT_EQ(read_text(outside), "keep");
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(world.sandbox() / c.file)));
    }
}

TEST(Silent, SecondInstanceExitsAtOnceAndChangesNothing) {
    ProgramWorld world;
    ASSERT_EQ(platform::os().create_instance_mutex(product_info.mutex_name),
              platform::InstanceMutex::created);
    const test::Run install = world.run(setup_program(), {"--silent"});
    const test::Run window = world.run(setup_program(), {});
    platform::os().release_instance_mutex();

    EXPECT_EQ(install.exit_code, 0);
    EXPECT_EQ(window.exit_code, 0);
    EXPECT_EQ(window.err, "");  // no failure message: the window was not tried
    EXPECT_FALSE(fs::exists(world.sandbox() / "result.json"));
    EXPECT_FALSE(fs::exists(world.sandbox() / "Local"));
    EXPECT_EQ(uninstall_display_name(world.sandbox()), u"");
}

// A link planted at the lock file's name must not switch the guard off: eight
// installs started at once all succeed and leave one complete installation.
TEST(Silent, SimultaneousInstallsDespiteALinkAtTheLockFile) {
    ProgramWorld world;
    const fs::path lock = world.runtime() / "VellumoSetupResolve.lock";
    const fs::path target = world.root() / "planted-target";
    test::write_text(target, "");
    fs::create_symlink(target, lock);

    std::vector<ProgramWorld::Started> started;
    for (int i = 0; i < 8; ++i) started.push_back(world.start(setup_program(), {"--silent"}));
    for (const ProgramWorld::Started& instance : started) {
        const test::Run run = world.finish(instance);
        EXPECT_EQ(run.exit_code, 0) << run.err;
    }

    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(lock)));
    EXPECT_EQ(read_text(target), "");
    EXPECT_EQ(read_text(world.sandbox() / "result.json"), installed_result);
    std::string error;
    ASSERT_TRUE(load_payload(error)) << error;
    const fs::path scripts = world.sandbox() / "Roaming" / "Blackmagic Design" / "DaVinci Resolve" /
                             "Support" / "Fusion" / "Scripts" / "Utility";
    const std::vector<std::pair<std::string, fs::path>> installed = {
        {"VellumoCompanion.exe", world.install_folder() / "VellumoCompanion.exe"},
        {"Vellumo.py", scripts / "Vellumo.py"},
        {"SETUP.md", world.install_folder() / "SETUP.md"},
    };
    nlohmann::json files = nlohmann::json::array();
    for (const auto& [name, file] : installed) {
        const std::vector<std::uint8_t>& bytes = payload_files.at(name);
        EXPECT_EQ(read_text(file), std::string(bytes.begin(), bytes.end())) << name;
        files.push_back(file.string());
    }
    EXPECT_EQ(read_text(world.install_folder() / "uninstall.exe"), read_text(setup_program()));
    const auto record = read_text(world.install_folder() / "install.json");
    ASSERT_TRUE(record);
    EXPECT_EQ(nlohmann::json::parse(*record)["files"], files);
    EXPECT_EQ(uninstall_display_name(world.sandbox()), u"Vellumo for DaVinci Resolve");
}

// Every path below `root`, relative to it, with each file's content.
std::map<std::string, std::string> tree_with_contents(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        tree[entry.path().lexically_relative(root).string()] =
            entry.is_regular_file() ? read_text(entry.path()).value_or("") : "";
    return tree;
}

// Without a sandbox and with a known folder that cannot be resolved (no
// absolute HOME, and its XDG variable unset), neither job touches the current
// folder, where every location would otherwise lie.
TEST(Silent, UnresolvedKnownFolderTouchesNothingInTheCurrentFolder) {
    const fs::path folder = fs::path("Programs") / "Vellumo for DaVinci Resolve";
    const fs::path scripts = fs::path("Blackmagic Design") / "DaVinci Resolve" / "Support" /
                             "Fusion" / "Scripts" / "Utility";
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        const char* unset;
    };
    const Case cases[] = {
        {"uninstall without local application data", {"--uninstall", "--silent"}, "XDG_DATA_HOME"},
        {"uninstall without roaming application data", {"--uninstall", "--silent"},
         "XDG_CONFIG_HOME"},
        {"install without local application data", {"--silent"}, "XDG_DATA_HOME"},
        {"install without roaming application data", {"--silent"}, "XDG_CONFIG_HOME"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramWorld world;
        for (const fs::path& file : {folder / "VellumoCompanion.exe", folder / "uninstall.exe",
                                     folder / "SETUP.md", scripts / "Vellumo.py",
                                     fs::path("Vellumo") / "resolve.json"}) {
            fs::create_directories((world.work() / file).parent_path());
            test::write_text(world.work() / file, "kept");
        }
        const nlohmann::json record = {
            {"files", {(folder / "VellumoCompanion.exe").string(), (scripts / "Vellumo.py").string()}}};
        test::write_text(world.work() / folder / "install.json", record.dump());
        world.env().set("HOME", "home");
        world.env().unset(c.unset);
        const auto before = tree_with_contents(world.work());

        const test::Run run = world.run_as(setup_program(), c.arguments, std::nullopt);
        EXPECT_EQ(run.exit_code, 1) << run.err;
        EXPECT_EQ(tree_with_contents(world.work()), before);
    }
}

}  // namespace
}  // namespace vellumo
