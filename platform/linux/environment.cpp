// The process environment on Linux.
#include <cstdlib>

#include "platform/platform.hpp"

namespace vellumo::platform {

std::optional<std::u16string> System::environment_variable(std::u16string_view name) {
    const char* value = std::getenv(utf16_to_utf8(name).c_str());
    if (!value) return std::nullopt;
    return utf8_to_utf16(value);
}

// Where software lives that is not part of the system, as
// "C:\Program Files" is on Windows.
std::u16string program_files_fallback() { return u"/opt"; }

}  // namespace vellumo::platform
