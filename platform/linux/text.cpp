// UTF-8 <-> UTF-16 transcoding, path text and text-file line breaks on Linux,
// where a path is bytes and a line break is "\n".
// Invalid input never fails: each maximal invalid subsequence becomes U+FFFD.
#include "platform/platform.hpp"

namespace vellumo::platform {
namespace {

constexpr char32_t replacement_character = 0xFFFD;

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void append_utf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

// Decodes one scalar value at text[i], advancing i past it, or past the
// maximal invalid subsequence (returning U+FFFD), as the Unicode standard
// recommends.
char32_t decode_utf8(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i++);
    if (lead < 0x80) return lead;

    std::size_t length;
    char32_t value;
    unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return replacement_character;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i >= text.size()) return replacement_character;
        const unsigned char c = byte(i);
        if (c < low || c > high) return replacement_character;
        value = (value << 6) | (c & 0x3F);
        ++i;
        low = 0x80, high = 0xBF;
    }
    return value;
}

}  // namespace

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = replacement_character;
        }
        append_utf8(out, c);
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) append_utf16(out, decode_utf8(text, i));
    return out;
}

std::u16string path_to_wide(const std::filesystem::path& path) {
    return utf8_to_utf16(path.native());
}

std::filesystem::path path_from_wide(std::u16string_view text) {
    return std::filesystem::path(utf16_to_utf8(text));
}

std::string text_file_content(std::string_view text) { return std::string(text); }

}  // namespace vellumo::platform
