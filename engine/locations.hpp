// The per-user folders the setup writes to and removes from, and their
// redirection into sandbox_root in sandbox mode. Used by the install, the
// uninstall, the detections, the setup information and the start-up modes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/platform.hpp"

namespace vellumo {

using platform::KnownFolder;

// The sub-folders of sandbox_root that stand for the known folders, and for
// the Program Files folder of the detections.
inline constexpr char16_t sandbox_local_folder[] = u"Local";
inline constexpr char16_t sandbox_roaming_folder[] = u"Roaming";
inline constexpr char16_t sandbox_start_menu_folder[] = u"StartMenu";
inline constexpr char16_t sandbox_program_files_folder[] = u"ProgramFiles";

// In sandbox mode sandbox_root joined with `sandbox_sub`, without asking the
// system anything; otherwise the known folder (created when missing), or an
// empty path when it cannot be resolved.
std::filesystem::path known_folder(KnownFolder folder, const std::u16string& sandbox_sub);

// LocalAppData\Programs\<folder name>: the companion application, the setup
// guide, uninstall.exe and install.json.
std::filesystem::path install_dir();

// DaVinci Resolve's per-user script folder below RoamingAppData.
std::filesystem::path resolve_scripts_dir();

// The first of install_dir and resolve_scripts_dir whose known folder cannot
// be resolved, as it would then read (relative to the current folder); nothing
// when both resolve. The install and the uninstall refuse to start on it.
std::optional<std::filesystem::path> unresolved_location();

// The first of install_dir and resolve_scripts_dir whose UTF-8 text does not
// give it back exactly (a folder name that is not valid Unicode): install.json
// records the installed files by that text, and an uninstall would look for
// them elsewhere. Nothing when both come back. The install refuses on it.
std::optional<std::filesystem::path> unrecordable_location();

}  // namespace vellumo
