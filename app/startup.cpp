#include "app/startup.hpp"

#include <cstdint>
#include <optional>
#include <system_error>

#include "app/jobs.hpp"
#include "app/setup_info.hpp"
#include "app/window_host.hpp"
#include "engine/locations.hpp"
#include "engine/payload.hpp"
#include "engine/product_info.hpp"
#include "engine/replace.hpp"
#include "engine/text.hpp"
#include "platform/platform.hpp"

namespace vellumo {

namespace fs = std::filesystem;

StartOptions match_options(const std::vector<std::u16string>& arguments) {
    StartOptions options;
    for (std::size_t i = 1; i < arguments.size(); ++i) {  // 0 is the program
        const std::u16string& argument = arguments[i];
        if (argument == u"--uninstall")
            options.uninstall = true;
        else if (argument == u"--silent")
            options.silent = true;
        else if (argument == u"--cleanup")
            options.cleanup = true;
        else if (argument == u"--check")
            options.check = true;
    }
    return options;
}

// Absolute is exactly "root name and root directory" on Windows and "root
// directory" where paths have no root name.
bool usable_sandbox(const fs::path& sandbox) { return sandbox.is_absolute(); }

bool write_json_file(const fs::path& file, const nlohmann::json& document, Writers writers) {
    std::string text;
    try {
        text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception&) {
        return false;
    }
    // The folder is the sandbox, trusted and never made here; a folder at the
    // file's name is the user's, not to be moved aside.
    const fs::path folder = file.parent_path();
    std::error_code ignored;
    if (!fs::is_directory(fs::status(folder, ignored)) ||
        fs::is_directory(fs::status(file, ignored)))
        return false;
    std::string error;
    return write_text_file_replacing(file, folder, text, error, writers);
}

int run_check() {
    if (!usable_sandbox(sandbox_root)) return 2;
    nlohmann::json report = build_setup_info();  // before the pack, as the page sees it
    std::string error;
    const bool valid = load_payload(error);
    report["payloadValid"] = valid;
    report["error"] = error;
    // The check takes no guard: other checks may be writing the same report.
    const bool written = write_json_file(sandbox_root / "check.json", report, Writers::several);
    return written && valid ? 0 : 1;
}

namespace {

constexpr char16_t copy_name_prefix[] = u"VellumoUninstall-";
constexpr char16_t copy_name_suffix[] = u".exe";

// How long a copy waits for its original to end: it is on its way out, but a
// loaded machine may take a while.
constexpr std::uint32_t original_exit_limit_ms = 30000;

}  // namespace

std::u16string uninstaller_copy_name(std::uint32_t process_id) {
    return copy_name_prefix + to_wide(std::to_string(process_id)) + copy_name_suffix;
}

std::optional<std::uint32_t> original_process_id(const fs::path& copy) {
    const std::u16string name = path_wide(copy.filename());
    const std::u16string_view prefix = copy_name_prefix;
    if (!name.starts_with(prefix)) return std::nullopt;
    std::uint64_t id = 0;
    for (std::size_t i = prefix.size(); i < name.size() && name[i] >= u'0' && name[i] <= u'9'; ++i) {
        id = id * 10 + (name[i] - u'0');
        if (id > UINT32_MAX) return std::nullopt;
    }
    // Only the very name the hand-off gives: no leading zeros, nothing more.
    const auto original = static_cast<std::uint32_t>(id);
    if (uninstaller_copy_name(original) != name) return std::nullopt;
    return original;
}

void wait_for_original() {
    const std::optional<std::uint32_t> original = original_process_id(current_exe_path());
    if (!original) return;
    // At the limit the uninstall goes on; uninstall.exe may then stay.
    platform::os().wait_for_program_exit(*original, install_dir() / "uninstall.exe",
                                         original_exit_limit_ms);
}

std::u16string hand_off_command_line(const fs::path& copy, bool silent) {
    std::u16string line = u"\"" + path_wide(copy) + u"\" --uninstall --cleanup";
    if (silent) line += u" --silent";
    return line;
}

namespace {

// Copies `source` to `name` in `folder` exclusively, never through a link
// planted at its name. A regular file there is the stale copy of an earlier
// run with the same process id: it goes, once.
bool make_uninstaller_copy(const platform::HeldFolder& folder, const fs::path& name,
                           const fs::path& source) {
    platform::System& system = platform::os();
    platform::NewFile made = system.copy_to_new_file_in(folder, name, source);
    if (made == platform::NewFile::not_created && system.remove_file_in(folder, name))
        made = system.copy_to_new_file_in(folder, name, source);
    return made == platform::NewFile::written;
}

// Whether `folder` is `install` or lies inside it, by identity: either may be
// reached through a link, or spelt another way.
bool lies_in(const fs::path& folder, const fs::path& install) {
    std::error_code ignored;
    for (fs::path at = folder; !at.empty(); at = at.parent_path()) {
        if (fs::equivalent(at, install, ignored)) return true;
        if (at == at.parent_path()) break;
    }
    return false;
}

// The copy's current folder: ours, so that a relative sandbox names the same
// folders in the copy, unless ours is the install folder or lies inside it,
// which the copy must not hold; then its own (empty). Nothing when the copy,
// away from ours, would find the install elsewhere.
std::optional<fs::path> copy_working_folder(const fs::path& install) {
    std::error_code error;
    const fs::path current = fs::current_path(error);
    if (!error && !lies_in(current, install)) return current;
    if (!install.is_absolute()) return std::nullopt;
    return fs::path();
}

}  // namespace

bool hand_off_uninstall(bool& mutex_held) {
    platform::System& system = platform::os();
    const fs::path exe = current_exe_path();
    const fs::path install = install_dir();
    std::error_code error;
    if (!fs::equivalent(exe.parent_path(), install, error)) return false;
    const std::optional<fs::path> working_folder = copy_working_folder(install);
    if (!working_folder) return false;

    // Only the user's private folder, held from the copy to its start: a copy
    // in a folder that another user can reach could be swapped for another
    // program before it starts.
    const platform::HeldFolder folder = system.open_temporary_folder();
    if (folder.empty()) return false;
    const fs::path name = path_from_wide(uninstaller_copy_name(system.current_process_id()));
    const fs::path copy = folder.path() / name;
    // The first argument of a command line ends at the next quote.
    if (path_wide(copy).find(u'"') != std::u16string::npos) return false;
    if (!make_uninstaller_copy(folder, name, exe)) return false;

    if (mutex_held) {
        system.release_instance_mutex();  // the copy takes it itself
        mutex_held = false;
    }
    const std::u16string line = hand_off_command_line(copy, silent_mode);
    if (system.start_process(folder, name, line, *working_folder)) return true;
    system.remove_file_in(folder, name);  // nobody will run it
    return false;
}

int run_silent_job() {
    const ProgressFn no_progress = [](int, const std::string&) {};
    const JobResult result = run_engine_job(uninstall_mode, no_progress);
    if (!sandbox_root.empty())
        write_json_file(sandbox_root / "result.json", job_result_to_json(result));  // failure changes nothing
    return result.ok ? 0 : 1;
}

int run_window_or_report() {
    try {
        return run_window();
    } catch (...) {
        platform::os().show_error_message(window_failure_message, window_failure_caption);
        return 3;
    }
}

void start_self_deletion() {
    const fs::path exe = current_exe_path();
    if (!exe.empty()) platform::os().start_delayed_delete(exe);  // a failure leaves it in place
}

}  // namespace vellumo
