// Linux only (no Windows twin): the XDG base-directory rules of the stand-ins.
#include "platform/linux/base_directories.hpp"

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

}  // namespace

fs::path base_directory(const char* xdg_variable, const char* home_relative) {
    if (const fs::path value = variable(xdg_variable); value.is_absolute()) return value;
    const fs::path home = variable("HOME");
    return home.is_absolute() ? home / home_relative : fs::path();
}

bool ensure_directory(const fs::path& dir) {
    std::error_code ignored;
    if (fs::is_directory(dir, ignored)) return true;
    const fs::path parent = dir.parent_path();
    if (parent != dir && !ensure_directory(parent)) return false;
    if (::mkdir(dir.c_str(), 0700) == 0) return true;
    return errno == EEXIST && fs::is_directory(dir, ignored);  // made meanwhile
}

}  // namespace vellumo::platform
