// The program with a payload of some megabytes, run under step_shim (which
// counts renames, fsyncs, removals and opens for writing, and kills or holds
// the program at one of them), and the complete installed and uninstalled
// states in a ProgramWorld. Used by the crash and concurrency tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/program.hpp"
#include "engine/install_record.hpp"
#include "engine/locations.hpp"
#include "engine/product_info.hpp"
#include "engine/registry.hpp"
#include "engine/replace.hpp"
#include "engine/text.hpp"
#include "platform/linux/registry_store.hpp"

namespace vellumo::test {

inline fs::path big_setup_program() { return VELLUMO_SETUP_BIG_PATH; }
inline fs::path big_payload_dir() { return VELLUMO_BIG_PAYLOAD_DIR; }

// What step_shim does in one run (see step_shim.c); nothing set: it only counts.
struct Steps {
    long kill_at = 0;
    long kill_after_us = 0;
    fs::path log{};
    fs::path gate{};
    fs::path under{};
    std::string fail{};  // "KIND:SUFFIX": the steps that fail with EIO
};

// Sets step_shim's variables for the programs started until it goes.
class StepShim {
public:
    StepShim(HermeticEnv& env, const Steps& steps) : env_(env) {
        env_.set("LD_PRELOAD", VELLUMO_STEP_SHIM_PATH);
        if (steps.kill_at > 0) env_.set("VELLUMO_STEPS_KILL_AT", std::to_string(steps.kill_at));
        if (steps.kill_after_us > 0)
            env_.set("VELLUMO_STEPS_KILL_AFTER_US", std::to_string(steps.kill_after_us));
        if (!steps.log.empty()) env_.set("VELLUMO_STEPS_LOG", steps.log);
        if (!steps.gate.empty()) env_.set("VELLUMO_STEPS_GATE", steps.gate);
        if (!steps.under.empty()) env_.set("VELLUMO_STEPS_UNDER", steps.under);
        if (!steps.fail.empty()) env_.set("VELLUMO_STEPS_FAIL", steps.fail);
    }
    ~StepShim() {
        for (const char* name : {"LD_PRELOAD", "VELLUMO_STEPS_KILL_AT", "VELLUMO_STEPS_KILL_AFTER_US",
                                 "VELLUMO_STEPS_LOG", "VELLUMO_STEPS_GATE", "VELLUMO_STEPS_UNDER",
                                 "VELLUMO_STEPS_FAIL"})
            env_.unset(name);
    }
    StepShim(const StepShim&) = delete;
    StepShim& operator=(const StepShim&) = delete;

private:
    HermeticEnv& env_;
};

inline Run run_with_steps(ProgramWorld& world, const std::vector<std::string>& arguments,
                          const Steps& steps) {
    const StepShim shim(world.env(), steps);
    return world.run(big_setup_program(), arguments);
}

// The programs held at a gate, by process id.
inline std::vector<pid_t> held_at(const fs::path& gate) {
    std::vector<pid_t> held;
    for (const auto& entry : fs::directory_iterator(gate)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("held-")) held.push_back(std::stoi(name.substr(5)));
    }
    return held;
}

// The lines of a step log, "PID KIND PATH" each.
inline std::vector<std::string> step_log(const fs::path& log) {
    std::vector<std::string> lines;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The engine's view of `sandbox`, for the length of a check.
class SandboxView {
public:
    explicit SandboxView(const fs::path& sandbox) : saved_(sandbox_root) { sandbox_root = sandbox; }
    ~SandboxView() { sandbox_root = saved_; }
    SandboxView(const SandboxView&) = delete;
    SandboxView& operator=(const SandboxView&) = delete;

private:
    fs::path saved_;
};

// Where the install puts each payload file.
inline std::vector<std::pair<std::string, fs::path>> payload_destinations() {
    return {{"VellumoCompanion.exe", install_dir() / "VellumoCompanion.exe"},
            {"Vellumo.py", resolve_scripts_dir() / "Vellumo.py"},
            {"SETUP.md", install_dir() / "SETUP.md"}};
}

inline fs::path uninstall_hive() {
    return platform::registry_store::hive_file(RegistryRoot::current_user);
}
inline std::u16string uninstall_key() {
    return effective_key_path(RegistryRoot::current_user, uninstall_key_path());
}

// What is wrong with the installation in `world`; empty when it is complete.
inline std::string installed_state_problem(const ProgramWorld& world) {
    const SandboxView view(world.sandbox());
    std::ostringstream problems;
    for (const auto& [name, destination] : payload_destinations()) {
        if (read_text(destination) != read_text(big_payload_dir() / name))
            problems << destination << " is not the payload's " << name << ". ";
    }
    if (read_text(install_dir() / "uninstall.exe") != read_text(big_setup_program()))
        problems << "uninstall.exe is not the setup. ";

    const auto record = read_text(install_dir() / "install.json");
    const nlohmann::json manifest =
        nlohmann::json::parse(record.value_or(""), nullptr, false);
    nlohmann::json files = nlohmann::json::array();
    for (const auto& [name, destination] : payload_destinations()) files.push_back(path_utf8(destination));
    if (!manifest.is_object() || manifest.value("files", nlohmann::json()) != files ||
        manifest.value("version", "") != product_info.version)
        problems << "install.json is not complete: " << record.value_or("(missing)") << ". ";

    const std::vector<std::u16string> eleven = {
        u"DisplayName", u"DisplayVersion", u"Publisher", u"URLInfoAbout", u"InstallLocation",
        u"DisplayIcon", u"UninstallString", u"QuietUninstallString", u"NoModify", u"NoRepair",
        u"EstimatedSize"};
    const auto names = platform::registry_store::value_names(uninstall_hive(), uninstall_key());
    if (names != eleven) problems << "the Uninstall entry does not hold its eleven values. ";
    const std::u16string quiet = u"\"" + path_wide(install_dir() / "uninstall.exe") +
                                 u"\" --uninstall --silent";
    if (reg_get_string(RegistryRoot::current_user, uninstall_key_path(), u"QuietUninstallString") != quiet)
        problems << "QuietUninstallString does not name uninstall.exe. ";
    return problems.str();
}

// The temporary and backup files anywhere in the sandbox.
inline std::vector<fs::path> leftovers(const ProgramWorld& world) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(world.sandbox())) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(temporary_suffix) || name.find(backup_marker) != std::string::npos)
            found.push_back(entry.path());
    }
    return found;
}

// What is left of an installation whose files were `installed`; empty when
// the uninstall is complete.
inline std::string uninstalled_state_problem(const ProgramWorld& world,
                                             const std::vector<fs::path>& installed) {
    const SandboxView view(world.sandbox());
    std::ostringstream problems;
    for (const fs::path& file : installed)
        if (fs::exists(fs::symlink_status(file))) problems << file << " is still there. ";
    if (fs::exists(install_dir())) problems << "the install folder is still there. ";
    if (platform::os().registry_key_exists(RegistryRoot::current_user, uninstall_key()))
        problems << "the Uninstall entry is still there. ";
    return problems.str();
}

// Every file a complete install put in `world`.
inline std::vector<fs::path> installed_files(const ProgramWorld& world) {
    const SandboxView view(world.sandbox());
    std::vector<fs::path> files{install_dir() / "uninstall.exe", install_dir() / "install.json"};
    for (const auto& [name, destination] : payload_destinations()) files.push_back(destination);
    return files;
}

}  // namespace vellumo::test
