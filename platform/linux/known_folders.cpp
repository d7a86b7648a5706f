// Known folders on Linux: the XDG base directories stand in for the Windows
// known folders. The environment is read afresh on every call, so a test (or
// a changed session) sees its own folders.
#include "platform/platform.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

namespace vellumo::platform {
namespace {

namespace fs = std::filesystem;

// A variable's value without trailing separators (Windows gives a known folder
// without one); empty when unset or empty, which the XDG rules treat alike.
std::string variable(const char* name) {
    const char* value = std::getenv(name);
    std::string text = value ? value : "";
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

// $xdg_variable when it is absolute (the XDG rules ignore a relative value),
// else $HOME/home_relative; empty without an absolute HOME.
fs::path base_directory(const char* xdg_variable, const char* home_relative) {
    if (const fs::path value = variable(xdg_variable); value.is_absolute()) return value;
    const fs::path home = variable("HOME");
    return home.is_absolute() ? home / home_relative : fs::path();
}

// Creates `dir` and its missing parents, each private to the user as the XDG
// rules ask. True when `dir` is a directory afterwards.
bool ensure_directory(const fs::path& dir) {
    std::error_code ignored;
    if (fs::is_directory(dir, ignored)) return true;
    const fs::path parent = dir.parent_path();
    if (parent != dir && !ensure_directory(parent)) return false;
    if (::mkdir(dir.c_str(), 0700) == 0) return true;
    return errno == EEXIST && fs::is_directory(dir, ignored);  // made meanwhile
}

}  // namespace

fs::path System::known_folder_path(KnownFolder folder) {
    fs::path path;
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
