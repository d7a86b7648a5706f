// UTF-8 <-> UTF-16 transcoding through the code page calls (CP_UTF8, flags
// 0), and path text, which is UTF-16 here. Invalid input never fails: the
// system puts U+FFFD in its place.
#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

#include <algorithm>

namespace vellumo::platform {
namespace {

// The calls count in int: longer texts go through in pieces, each ending on
// a whole character.
constexpr std::size_t max_piece = std::size_t{1} << 30;

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

std::size_t utf16_piece(std::u16string_view text) {
    if (text.size() <= max_piece) return text.size();
    return is_high_surrogate(text[max_piece - 1]) ? max_piece - 1 : max_piece;
}

std::size_t utf8_piece(std::string_view text) {
    if (text.size() <= max_piece) return text.size();
    std::size_t end = max_piece;
    // Back over at most three continuation bytes to the start of a sequence.
    while (end > max_piece - 3 && is_continuation(text[end])) --end;
    return end;
}

}  // namespace

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    while (!text.empty()) {
        const std::size_t n = utf16_piece(text);
        const auto units = reinterpret_cast<const wchar_t*>(text.data());
        const int count = static_cast<int>(n);
        const int size = WideCharToMultiByte(CP_UTF8, 0, units, count, nullptr, 0, nullptr, nullptr);
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(std::max(size, 0)));
        WideCharToMultiByte(CP_UTF8, 0, units, count, out.data() + at, size, nullptr, nullptr);
        text.remove_prefix(n);
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    while (!text.empty()) {
        const std::size_t n = utf8_piece(text);
        const int count = static_cast<int>(n);
        const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), count, nullptr, 0);
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(std::max(size, 0)));
        MultiByteToWideChar(CP_UTF8, 0, text.data(), count,
                            reinterpret_cast<wchar_t*>(out.data() + at), size);
        text.remove_prefix(n);
    }
    return out;
}

std::u16string path_to_wide(const std::filesystem::path& path) {
    return utf16_string(path.native());
}

std::filesystem::path path_from_wide(std::u16string_view text) {
    return std::filesystem::path(wide_string(text));
}

std::string text_file_content(std::string_view text) {
    std::string content;
    content.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') content += '\r';  // as a text-mode stream writes it
        content += c;
    }
    return content;
}

}  // namespace vellumo::platform
