// The start-up modes of the program: option matching, the check, the
// uninstall hand-off to a temporary copy, the silent job, the window with its
// failure message, and the self-deletion. main() takes the decisions in order
// and calls these.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/replace.hpp"

namespace vellumo {

inline constexpr char16_t sandbox_variable[] = u"VELLUMO_SETUP_SANDBOX";

inline constexpr const char* window_failure_message =
    "Vellumo Setup could not open its interface. Install or repair Microsoft Edge WebView2 "
    "Runtime, then try again. No installation was started.";
inline constexpr const char* window_failure_caption = "Vellumo Setup";

struct StartOptions {
    bool uninstall = false;
    bool silent = false;
    bool cleanup = false;
    bool check = false;
};

// Every argument after the program path that equals an option exactly (case
// and all) sets it; anything else is ignored.
StartOptions match_options(const std::vector<std::u16string>& arguments);

// A sandbox the check may write into: an absolute path (on Windows a root
// name and a root directory, as C:\out).
bool usable_sandbox(const std::filesystem::path& sandbox);

// check.json: the setup information with "payloadValid" and "error". 2 when
// there is no usable sandbox (nothing written), 1 when the pack is damaged or
// the file was not written, 0 otherwise.
int run_check();

// "VellumoUninstall-<pid>.exe".
std::u16string uninstaller_copy_name(std::uint32_t process_id);
// The process id in a copy's name, the original's; nullopt for any other name.
std::optional<std::uint32_t> original_process_id(const std::filesystem::path& copy);
// The copy's command line: its quoted path, the options it runs with.
std::u16string hand_off_command_line(const std::filesystem::path& copy, bool silent);

// When the running executable lies in the install folder, starts a temporary
// copy of it to uninstall, so that the uninstall can remove the original. The
// copy runs in our current folder, unless that lies in the install folder.
// Gives up the mutex (mutex_held becomes false) just before starting the
// copy. True when the copy was started.
bool hand_off_uninstall(bool& mutex_held);

// Run as a copy that the hand-off started, waits (for a bounded time) until
// the original has ended: Windows does not delete a running program's file.
// A program of another name, or an id that names no such program, goes on.
void wait_for_original();

// Runs the install or uninstall on this thread, writes result.json into the
// sandbox when there is one, and returns 0 for ok, 1 otherwise.
int run_silent_job();

// The window; any exception from it shows the failure message and gives 3.
int run_window_or_report();

// Deletes the running executable about two seconds after this process ends.
void start_self_deletion();

// Two-space JSON, UTF-8 unescaped, nothing after the closing brace, written
// over `file`. False when the document or the file could not be written.
// Outside the single-instance guard, other processes may write it too.
bool write_json_file(const std::filesystem::path& file, const nlohmann::json& document,
                     Writers writers = Writers::one);

}  // namespace vellumo
