// Known folders on Linux: the XDG base directories stand in for the Windows
// known folders. The environment is read afresh on every call, so a test (or
// a changed session) sees its own folders.
#include "platform/linux/base_directories.hpp"
#include "platform/platform.hpp"

namespace vellumo::platform {

std::filesystem::path System::known_folder_path(KnownFolder folder) {
    std::filesystem::path path;
    switch (folder) {
    case KnownFolder::LocalAppData:
        path = base_directory("XDG_DATA_HOME", ".local/share");
        break;
    case KnownFolder::RoamingAppData:
        path = base_directory("XDG_CONFIG_HOME", ".config");
        break;
    case KnownFolder::Programs:
        path = base_directory("XDG_DATA_HOME", ".local/share");
        if (!path.empty()) path /= "applications";
        break;
    }
    if (path.empty() || !ensure_directory(path)) return {};
    return path;
}

}  // namespace vellumo::platform
