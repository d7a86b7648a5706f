// The link rule for everything the setup writes or removes: a known folder (in
// sandbox mode the sandbox folder standing for it) and everything above it are
// trusted; below it, a link at any component refuses the path. Used by file
// replacement, the install and the uninstall.
#pragma once

#include <filesystem>

namespace vellumo {

// The trusted roots: LocalAppData, RoamingAppData and the Start menu's
// programs folder, or sandbox_root's Local, Roaming and StartMenu.
std::filesystem::path local_root();
std::filesystem::path roaming_root();
std::filesystem::path start_menu_root();

// Whether a link stands at `path` or at any folder between `trusted_root`
// (not itself examined) and it. A path that does not lie below the trusted
// root, component by component, counts as one: nothing vouches for it.
bool link_in_the_way(const std::filesystem::path& path, const std::filesystem::path& trusted_root);

}  // namespace vellumo
