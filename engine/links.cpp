#include "engine/links.hpp"

#include "engine/locations.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace fs = std::filesystem;

fs::path local_root() { return known_folder(KnownFolder::LocalAppData, sandbox_local_folder); }

fs::path roaming_root() {
    return known_folder(KnownFolder::RoamingAppData, sandbox_roaming_folder);
}

fs::path start_menu_root() {
    return known_folder(KnownFolder::Programs, sandbox_start_menu_folder);
}

bool link_in_the_way(const fs::path& path, const fs::path& trusted_root) {
    auto component = path.begin();
    for (const fs::path& root_component : trusted_root) {
        if (root_component.empty()) continue;  // a trailing separator
        if (component == path.end() || *component != root_component) return true;
        ++component;
    }
    // Asked one component at a time, so that the link itself is seen and
    // never followed.
    fs::path walked = trusted_root;
    for (; component != path.end(); ++component) {
        if (component->empty()) continue;
        walked /= *component;
        if (platform::os().is_link(walked)) return true;
    }
    return false;
}

}  // namespace vellumo
