#include "engine/text.hpp"

#include <algorithm>

#include "platform/platform.hpp"

namespace vellumo {

std::string to_utf8(const std::u16string& wide) {
    if (wide.empty()) return {};
    return platform::utf16_to_utf8(wide);
}

std::u16string to_wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    return platform::utf8_to_utf16(utf8);
}

std::string path_utf8(const std::filesystem::path& path) { return to_utf8(path_wide(path)); }

std::u16string path_wide(const std::filesystem::path& path) { return platform::path_to_wide(path); }

std::filesystem::path path_from_wide(const std::u16string& wide) {
    return platform::path_from_wide(wide);
}

std::filesystem::path path_from_utf8(const std::string& utf8) {
    return platform::path_from_wide(to_wide(utf8));
}

bool path_utf8_is_exact(const std::filesystem::path& path) {
    return path_from_utf8(path_utf8(path)).native() == path.native();
}

bool equals_ignoring_case(std::u16string_view a, std::u16string_view b) {
    const auto lower = [](char16_t c) {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
    };
    return std::ranges::equal(a, b, {}, lower, lower);
}

std::string load_rcdata_resource(unsigned id) { return platform::os().rcdata_resource(id); }

std::filesystem::path current_exe_path() { return platform::os().executable_path(); }

}  // namespace vellumo
