// A sandboxed, hermetic setup for install and uninstall tests: HOME and every
// XDG_* variable in a temporary folder, sandbox_root at <root>/sb, the payload
// reloaded from the embedded pack, and the progress reports recorded.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "engine/install.hpp"
#include "engine/product_info.hpp"
#include "engine/registry.hpp"
#include "hermetic_env.hpp"
#include "platform/platform.hpp"
#include "process_helpers.hpp"

namespace vellumo::test {

namespace fs = std::filesystem;

using Reports = std::vector<std::pair<int, std::string>>;

inline void write_text(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// The real system, except that one known folder cannot be resolved.
struct UnresolvedKnownFolder : platform::System {
    explicit UnresolvedKnownFolder(platform::KnownFolder folder) : unresolved(folder) {}
    fs::path known_folder_path(platform::KnownFolder folder) override {
        return folder == unresolved ? fs::path() : System::known_folder_path(folder);
    }
    platform::KnownFolder unresolved;
};

class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        payload_files.clear();
        sandbox_root = sb();
    }
    void TearDown() override {
        sandbox_root.clear();
        payload_files.clear();
    }

    fs::path sb() const { return env.root() / "sb"; }
    fs::path install_folder() const {
        return sb() / "Local" / "Programs" / "Vellumo for DaVinci Resolve";
    }
    fs::path scripts_folder() const {
        return sb() / "Roaming" / "Blackmagic Design" / "DaVinci Resolve" / "Support" / "Fusion" /
               "Scripts" / "Utility";
    }
    fs::path settings_folder() const { return sb() / "Roaming" / "Vellumo"; }
    fs::path marker() const { return env.root() / "python-probed"; }

    // A python.exe in the sandbox's Program Files that answers `exit_code`
    // and leaves a marker that it ran.
    void place_python(int exit_code) {
        const fs::path python = sb() / "ProgramFiles" / "Python" / "python.exe";
        write_text(python, "#!/bin/sh\n: > '" + marker().string() + "'\nexit " +
                               std::to_string(exit_code) + "\n");
        fs::permissions(python, fs::perms::owner_all);
    }
    void place_resolve() {
        write_text(sb() / "ProgramFiles" / "Blackmagic Design" / "DaVinci Resolve" / "Resolve.exe",
                   "MZ");
    }

    // The Uninstall key as the sandboxed registry holds it.
    static std::u16string sandbox_uninstall_key() {
        return std::u16string(sandbox_registry_prefix) + uninstall_key_prefix +
               product_info.uninstall_key_name;
    }

    ProgressFn recorder() {
        return [this](int pct, const std::string& label) { reports.emplace_back(pct, label); };
    }

    HermeticEnv env;
    Reports reports;
};

}  // namespace vellumo::test
