#include "engine/locations.hpp"

#include "engine/product_info.hpp"
#include "engine/text.hpp"

namespace vellumo {

// Nothing is cached and nothing is made absolute: a failed or relative base
// gives a relative location, used as it is.
std::filesystem::path known_folder(KnownFolder folder, const std::u16string& sandbox_sub) {
    if (!sandbox_root.empty()) return sandbox_root / path_from_wide(sandbox_sub);
    return platform::os().known_folder_path(folder);
}

std::filesystem::path install_dir() {
    return known_folder(KnownFolder::LocalAppData, sandbox_local_folder) / "Programs" /
           path_from_wide(product_info.folder_name);
}

std::filesystem::path resolve_scripts_dir() {
    return known_folder(KnownFolder::RoamingAppData, sandbox_roaming_folder) /
           "Blackmagic Design" / "DaVinci Resolve" / "Support" / "Fusion" / "Scripts" /
           "Utility";
}

std::optional<std::filesystem::path> unresolved_location() {
    if (known_folder(KnownFolder::LocalAppData, sandbox_local_folder).empty()) return install_dir();
    if (known_folder(KnownFolder::RoamingAppData, sandbox_roaming_folder).empty())
        return resolve_scripts_dir();
    return std::nullopt;
}

std::optional<std::filesystem::path> unrecordable_location() {
    for (const std::filesystem::path& location : {install_dir(), resolve_scripts_dir()})
        if (!path_utf8_is_exact(location)) return location;
    return std::nullopt;
}

}  // namespace vellumo
