#include "app/startup.hpp"

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

std::u16string uninstaller_copy_name(std::uint32_t process_id) {
    return u"VellumoUninstall-" + to_wide(std::to_string(process_id)) + u".exe";
}

std::u16string hand_off_command_line(const fs::path& copy, bool silent) {
    std::u16string line = u"\"" + path_wide(copy) + u"\" --uninstall --cleanup";
    if (silent) line += u" --silent";
    return line;
}

namespace {

// Copies `source` to `copy` exclusively, never through a link planted at its
// name. A regular file there is the stale copy of an earlier run with the
// same process id: it goes, once.
bool make_uninstaller_copy(const fs::path& source, const fs::path& copy) {
    platform::System& system = platform::os();
    platform::NewFile made = system.copy_to_new_file(source, copy);
    std::error_code ignored;
    if (made == platform::NewFile::not_created && !system.is_link(copy) &&
        fs::is_regular_file(fs::status(copy, ignored)) && fs::remove(copy, ignored))
        made = system.copy_to_new_file(source, copy);
    return made == platform::NewFile::written;
}

}  // namespace

bool hand_off_uninstall(bool& mutex_held) {
    platform::System& system = platform::os();
    const fs::path exe = current_exe_path();
    std::error_code error;
    if (!fs::equivalent(exe.parent_path(), install_dir(), error)) return false;

    // Only the user's private folder: a copy in a shared folder could be
    // swapped for another program before it starts.
    const fs::path folder = system.temporary_folder();
    if (folder.empty()) return false;
    const fs::path copy = folder / path_from_wide(uninstaller_copy_name(system.current_process_id()));
    // The first argument of a command line ends at the next quote.
    if (path_wide(copy).find(u'"') != std::u16string::npos) return false;
    if (!make_uninstaller_copy(exe, copy)) return false;

    if (mutex_held) {
        system.release_instance_mutex();  // the copy takes it itself
        mutex_held = false;
    }
    if (system.start_process(copy, hand_off_command_line(copy, silent_mode))) return true;
    std::error_code ignored;
    fs::remove(copy, ignored);  // nobody will run it
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
