#include "engine/uninstall.hpp"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/detection.hpp"
#include "engine/install_record.hpp"
#include "engine/links.hpp"
#include "engine/locations.hpp"
#include "engine/product_info.hpp"
#include "engine/registry.hpp"
#include "engine/replace.hpp"
#include "engine/text.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace fs = std::filesystem;

namespace {

// How long uninstall.exe is tried again while another process holds it (the
// uninstall.exe that started this copy on its way out, a virus scanner), and
// the pause between tries.
constexpr std::uint64_t busy_uninstaller_limit_ms = 10000;
constexpr std::chrono::milliseconds busy_uninstaller_pause(100);

bool is_dot_component(const fs::path::string_type& component) {
    const auto dot = fs::path::value_type('.');
    return (component.size() == 1 && component[0] == dot) ||
           (component.size() == 2 && component[0] == dot && component[1] == dot);
}

// "Close VellumoCompanion first, then try again." for a blocking program.
std::string refusal_message(const std::u16string& process) {
    const std::u16string stem =
        process.size() < 4 ? process : process.substr(0, process.size() - 4);
    return "Close " + to_utf8(stem) + " first, then try again.";
}

// Why nothing may be touched, if anything: a program to be removed is running,
// or a known folder cannot be resolved, so that every location would lie
// relative to the current folder, where an install of ours never is.
std::optional<std::string> refusal() {
    for (const std::u16string& process : product_info.blocking_processes)
        if (is_process_running(process)) return refusal_message(process);
    if (const std::optional<fs::path> location = unresolved_location())
        return "Could not find " + path_utf8(*location) + ".";
    return std::nullopt;
}

// The path that a recorded text names. An install in a folder whose name is
// not valid Unicode once recorded U+FFFD in its place, which names no file of
// ours: such a text, under no root but beginning with the lossy text of a
// root and a separator, stands for that root joined with the rest. Every
// other text reads as it always did.
fs::path recorded_path(const std::string& text, const std::vector<fs::path>& roots) {
    const fs::path path = path_from_utf8(text);
    const auto holds_path = [&path](const fs::path& root) { return lies_under_root(path, root); };
    if (std::ranges::any_of(roots, holds_path)) return path;
    for (const fs::path& root : roots) {
        if (path_utf8_is_exact(root)) continue;  // so is an unresolved, empty root
        const std::string prefix =
            path_utf8(root) + static_cast<char>(fs::path::preferred_separator);
        if (!text.starts_with(prefix)) continue;
        fs::path::string_type joined = root.native();
        joined += fs::path::preferred_separator;
        joined += path_from_utf8(text.substr(prefix.size())).native();
        return joined;
    }
    return path;
}

// The recorded files, or the default list when install.json names none.
std::vector<fs::path> removal_list(const nlohmann::json& manifest, const fs::path& install_folder) {
    std::vector<fs::path> list;
    const auto files = manifest.find("files");
    if (files != manifest.end() && files->is_array()) {
        const std::vector<fs::path> roots = {install_folder, roaming_root(), start_menu_root()};
        for (const nlohmann::json& file : *files)
            if (file.is_string()) list.push_back(recorded_path(file.get<std::string>(), roots));
    }
    if (list.empty()) {
        list = {install_folder / "VellumoCompanion.exe", install_folder / "SETUP.md",
                resolve_scripts_dir() / "Vellumo.py"};
    }
    return list;
}

// A file that is itself a link is removed as a link; a link in a folder on
// its way leaves the path alone.
void remove_recorded_file(const fs::path& file, const fs::path& install_folder) {
    const fs::path folder = file.parent_path();
    std::error_code ignored;
    if (lies_under_root(file, install_folder)) {
        if (link_in_the_way(folder, local_root())) return;
        fs::remove(file, ignored);
        remove_empty_dirs_upward(folder, install_folder);
    } else {
        for (const fs::path& root : {roaming_root(), start_menu_root()}) {
            if (!lies_under_root(file, root)) continue;
            if (!link_in_the_way(folder, root)) fs::remove(file, ignored);
            return;
        }
    }
}

// Recorded shortcuts go only from the Start menu: a planted install.json must
// not reach shortcuts elsewhere.
void remove_recorded_shortcuts(const nlohmann::json& manifest) {
    const auto shortcuts = manifest.find("shortcuts");
    if (shortcuts == manifest.end() || !shortcuts->is_array()) return;
    for (const nlohmann::json& shortcut : *shortcuts) {
        if (!shortcut.is_string()) continue;
        const fs::path path = path_from_utf8(shortcut.get<std::string>());
        const fs::path root = start_menu_root();
        std::error_code ignored;
        if (path.extension() == ".lnk" && lies_under_root(path, root) &&
            !link_in_the_way(path.parent_path(), root))
            fs::remove(path, ignored);
    }
}

void remove_settings() {
    const fs::path roaming = roaming_root();
    if (roaming.empty()) return;  // unresolved: "Vellumo" alone would be the current folder's
    const fs::path settings = roaming / "Vellumo";
    if (link_in_the_way(settings, roaming)) return;
    std::error_code ignored;
    fs::remove(settings / "resolve.json", ignored);
    fs::remove(settings / "companion.txt", ignored);
    remove_empty_dirs_upward(settings, roaming);
}

// The running program's own file goes only after it has ended: one try.
// Otherwise a file in use is tried again for a while before it is left.
void remove_uninstaller(const fs::path& uninstaller) {
    platform::System& os = platform::os();
    std::error_code unknown;  // counts as another program's file
    const bool running_it = fs::equivalent(current_exe_path(), uninstaller, unknown);
    const std::uint64_t deadline = os.tick_count_ms() + busy_uninstaller_limit_ms;
    while (os.remove_file(uninstaller) == platform::FileRemoval::in_use && !running_it &&
           os.tick_count_ms() < deadline)
        std::this_thread::sleep_for(busy_uninstaller_pause);
}

// install.json, uninstall.exe and the leftovers of file replacement, unless
// the install folder is reached through a link.
void remove_setup_files(const fs::path& install_folder) {
    if (link_in_the_way(install_folder, local_root())) return;
    std::error_code ignored;
    fs::remove(install_folder / "install.json", ignored);
    remove_uninstaller(install_folder / "uninstall.exe");
    remove_leftovers(install_folder);
}

}  // namespace

bool lies_under_root(const fs::path& path, const fs::path& root) {
    using string = fs::path::string_type;
    if (root.empty()) return false;  // its prefix would be the bare separator
    const string prefix = root.native() + fs::path::preferred_separator;
    const string& text = path.native();
    if (text.compare(0, prefix.size(), prefix) != 0) return false;
    // Below the prefix no "." or ".." component may lead back out of the root.
    const string separators{fs::path::value_type('/'), fs::path::preferred_separator};
    for (std::size_t start = prefix.size(); start <= text.size();) {
        std::size_t end = text.find_first_of(separators, start);
        if (end == string::npos) end = text.size();
        if (is_dot_component(text.substr(start, end - start))) return false;
        start = end + 1;
    }
    return true;
}

void remove_empty_dirs_upward(fs::path folder, const fs::path& stop) {
    // Every folder the walk may visit is examined once, before it starts.
    if (link_in_the_way(folder, stop)) return;
    while (!folder.empty()) {
        if (folder == stop) return;
        std::error_code error;
        if (!fs::is_directory(fs::status(folder, error)) || error) return;
        const bool empty = fs::is_empty(folder, error);
        if (error || !empty) return;
        std::error_code ignored;
        fs::remove(folder, ignored);
        fs::path parent = folder.parent_path();
        if (parent == folder) return;  // a file-system root
        folder = std::move(parent);
    }
}

JobResult run_uninstall(const ProgressFn& progress) {
    JobResult result;
    if (const std::optional<std::string> reason = refusal()) {
        result.error = *reason;
        return result;
    }

    progress(10, "Reading what was installed");
    const nlohmann::json manifest = load_install_manifest();
    const fs::path install_folder = install_dir();

    progress(45, "Removing files");
    for (const fs::path& file : removal_list(manifest, install_folder))
        remove_recorded_file(file, install_folder);

    progress(65, "Removing shortcuts");
    remove_recorded_shortcuts(manifest);

    progress(80, "Removing settings");
    remove_settings();
    reg_delete_key_tree(uninstall_key_path());
    remove_setup_files(install_folder);
    remove_empty_dirs_upward(install_folder, local_root());

    progress(100, "Done");
    result.ok = true;
    return result;
}

}  // namespace vellumo
