#include "engine/locations.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/product_info.hpp"
#include "hermetic_env.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;

// Sets sandbox_root for one test and restores it afterwards.
class SandboxRoot {
public:
    explicit SandboxRoot(fs::path root) : previous_(sandbox_root) {
        sandbox_root = std::move(root);
    }
    ~SandboxRoot() { sandbox_root = previous_; }

private:
    fs::path previous_;
};

// Records every known folder asked of the system.
struct RecordingSystem : platform::System {
    int known_folder_calls = 0;
    fs::path known_folder_path(KnownFolder folder) override {
        ++known_folder_calls;
        return System::known_folder_path(folder);
    }
};

// An environment variable for a case: unset (nullptr), a folder inside the
// test's root (leading '/'), or a text used as it is.
struct Variable {
    const char* name;
    const char* value;
};

struct KnownFolderCase {
    const char* what;
    KnownFolder folder;
    std::vector<Variable> variables;
    const char* expected;  // inside the test's root; nullptr: the empty path
    const char* file_in_the_way = nullptr;
};

TEST(KnownFolderPath, FollowsTheXdgFoldersAndCreatesThem) {
    const KnownFolderCase cases[] = {
        {"local from XDG_DATA_HOME", KnownFolder::LocalAppData, {{"XDG_DATA_HOME", "/data"}},
         "/data"},
        {"local from HOME", KnownFolder::LocalAppData, {{"XDG_DATA_HOME", nullptr}},
         "/home/.local/share"},
        {"empty XDG_DATA_HOME counts as unset", KnownFolder::LocalAppData,
         {{"XDG_DATA_HOME", ""}}, "/home/.local/share"},
        {"trailing separators dropped", KnownFolder::LocalAppData, {{"XDG_DATA_HOME", "/data//"}},
         "/data"},
        {"roaming from XDG_CONFIG_HOME", KnownFolder::RoamingAppData,
         {{"XDG_CONFIG_HOME", "/config"}}, "/config"},
        {"roaming from HOME", KnownFolder::RoamingAppData, {{"XDG_CONFIG_HOME", nullptr}},
         "/home/.config"},
        {"programs from XDG_DATA_HOME", KnownFolder::Programs, {{"XDG_DATA_HOME", "/data"}},
         "/data/applications"},
        {"programs from HOME", KnownFolder::Programs, {{"XDG_DATA_HOME", nullptr}},
         "/home/.local/share/applications"},
        {"relative XDG_DATA_HOME is ignored", KnownFolder::LocalAppData,
         {{"XDG_DATA_HOME", "data"}}, "/home/.local/share"},
        {"relative XDG_CONFIG_HOME is ignored", KnownFolder::RoamingAppData,
         {{"XDG_CONFIG_HOME", "config"}}, "/home/.config"},
        {"relative XDG_DATA_HOME is ignored for programs", KnownFolder::Programs,
         {{"XDG_DATA_HOME", "data"}}, "/home/.local/share/applications"},
        {"relative XDG_DATA_HOME and relative HOME", KnownFolder::LocalAppData,
         {{"XDG_DATA_HOME", "data"}, {"HOME", "home"}}, nullptr},
        {"relative HOME", KnownFolder::LocalAppData,
         {{"XDG_DATA_HOME", nullptr}, {"HOME", "home"}}, nullptr},
        {"no HOME", KnownFolder::RoamingAppData, {{"XDG_CONFIG_HOME", nullptr}, {"HOME", nullptr}},
         nullptr},
        {"a file where the folder must go", KnownFolder::LocalAppData,
         {{"XDG_DATA_HOME", "/data"}}, nullptr, "/data"},
        {"a file where a parent must go", KnownFolder::Programs, {{"XDG_DATA_HOME", nullptr}},
         nullptr, "/home/.local"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::HermeticEnv env;
        for (const auto& v : c.variables) {
            if (v.value == nullptr)
                env.unset(v.name);
            else
                env.set(v.name, v.value[0] == '/' ? env.root().string() + v.value : v.value);
        }
        if (c.file_in_the_way) std::ofstream(env.root().string() + c.file_in_the_way) << "x";

        const fs::path result = platform::os().known_folder_path(c.folder);
        if (c.expected == nullptr) {
            EXPECT_EQ(result, fs::path());
            continue;
        }
        EXPECT_EQ(result, fs::path(env.root().string() + c.expected));
        EXPECT_TRUE(fs::is_directory(result));
        EXPECT_EQ(fs::status(result).permissions(), fs::perms::owner_all);
    }
}

TEST(KnownFolderPath, ReadsTheEnvironmentOnEveryCall) {
    test::HermeticEnv env;
    env.set("XDG_DATA_HOME", env.root() / "first");
    EXPECT_EQ(platform::os().known_folder_path(KnownFolder::LocalAppData), env.root() / "first");
    env.set("XDG_DATA_HOME", env.root() / "second");
    EXPECT_EQ(platform::os().known_folder_path(KnownFolder::LocalAppData), env.root() / "second");
}

struct SandboxCase {
    const char* what;
    bool relative;
};

TEST(Locations, InSandboxModeComposeBelowTheSandboxAndAskNothing) {
    const SandboxCase cases[] = {{"absolute sandbox", false}, {"relative sandbox", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::HermeticEnv env;
        const std::string root = c.relative ? "sandbox" : (env.root() / "sandbox").string();
        SandboxRoot sandbox{root};
        RecordingSystem system;
        platform::ScopedSystem use{system};

        EXPECT_EQ(install_dir().string(), root + "/Local/Programs/Vellumo for DaVinci Resolve");
        EXPECT_EQ(resolve_scripts_dir().string(),
                  root +
                      "/Roaming/Blackmagic Design/DaVinci Resolve/Support/Fusion/Scripts/Utility");
        EXPECT_EQ(known_folder(KnownFolder::LocalAppData, sandbox_local_folder).string(),
                  root + "/Local");
        EXPECT_EQ(known_folder(KnownFolder::RoamingAppData, sandbox_roaming_folder).string(),
                  root + "/Roaming");
        EXPECT_EQ(known_folder(KnownFolder::Programs, sandbox_start_menu_folder).string(),
                  root + "/StartMenu");
        EXPECT_EQ(install_dir().is_relative(), c.relative);

        EXPECT_EQ(system.known_folder_calls, 0);
        EXPECT_FALSE(fs::exists(root));
        EXPECT_FALSE(fs::exists(env.root() / "data"));
    }
}

TEST(Locations, OutsideTheSandboxComposeBelowTheKnownFolders) {
    test::HermeticEnv env;
    const std::string data = (env.root() / "data").string();
    const std::string config = (env.root() / "config").string();

    EXPECT_EQ(install_dir().string(), data + "/Programs/Vellumo for DaVinci Resolve");
    EXPECT_EQ(resolve_scripts_dir().string(),
              config + "/Blackmagic Design/DaVinci Resolve/Support/Fusion/Scripts/Utility");
    EXPECT_EQ(known_folder(KnownFolder::Programs, sandbox_start_menu_folder).string(),
              data + "/applications");

    // The known folders are made; what is composed below them is not.
    EXPECT_TRUE(fs::is_directory(data));
    EXPECT_TRUE(fs::is_directory(config));
    EXPECT_FALSE(fs::exists(data + "/Programs"));
    EXPECT_FALSE(fs::exists(config + "/Blackmagic Design"));
}

TEST(Locations, AnUnresolvableKnownFolderGivesRelativeLocations) {
    test::HermeticEnv env;
    env.unset("HOME");
    env.unset("XDG_DATA_HOME");
    env.unset("XDG_CONFIG_HOME");

    EXPECT_EQ(known_folder(KnownFolder::LocalAppData, sandbox_local_folder), fs::path());
    EXPECT_EQ(install_dir().string(), "Programs/Vellumo for DaVinci Resolve");
    EXPECT_EQ(resolve_scripts_dir().string(),
              "Blackmagic Design/DaVinci Resolve/Support/Fusion/Scripts/Utility");
}

TEST(Locations, TheSandboxIsLookedAtOnEveryCall) {
    test::HermeticEnv env;
    {
        SandboxRoot sandbox{env.root() / "sandbox"};
        EXPECT_EQ(install_dir(), env.root() / "sandbox/Local/Programs/Vellumo for DaVinci Resolve");
    }
    EXPECT_EQ(install_dir(), env.root() / "data/Programs/Vellumo for DaVinci Resolve");
}

}  // namespace
}  // namespace vellumo
