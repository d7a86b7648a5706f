#include "engine/text.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace vellumo {
namespace {

using namespace std::string_literals;

struct Utf16ToUtf8Case {
    const char* what;
    std::u16string wide;
    std::string utf8;
};

TEST(ToUtf8, ConvertsAndReplacesInvalidUnits) {
    const Utf16ToUtf8Case cases[] = {
        {"empty", u"", ""},
        {"ascii", u"abc", "abc"},
        {"embedded NUL is content", u"a\0b"s, "a\0b"s},
        {"two and three byte forms", u"\u00e9\u20ac", "\xC3\xA9\xE2\x82\xAC"},
        {"astral pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"lone high surrogate", std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD"},
        {"lone low surrogate", std::u16string(1, char16_t(0xDC00)), "\xEF\xBF\xBD"},
        {"high surrogate then ascii", std::u16string{char16_t(0xD83D), u'x'}, "\xEF\xBF\xBDx"},
        {"reversed pair", std::u16string{char16_t(0xDE00), char16_t(0xD83D)},
         "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) EXPECT_EQ(to_utf8(c.wide), c.utf8) << c.what;
}

struct Utf8ToUtf16Case {
    const char* what;
    std::string utf8;
    std::u16string wide;
};

TEST(ToWide, ConvertsAndReplacesInvalidBytes) {
    const char16_t fffd = 0xFFFD;
    const Utf8ToUtf16Case cases[] = {
        {"empty", "", u""},
        {"embedded NUL is content", "a\0b"s, u"a\0b"s},
        {"single 0xFF", "\xFF", std::u16string(1, fffd)},
        {"stray continuation", "a\x80z", std::u16string{u'a', fffd, u'z'}},
        {"truncated sequence at the end", "\xE2\x82", std::u16string(1, fffd)},
        {"truncated sequence before ascii", "\xE2\x82x", std::u16string{fffd, u'x'}},
        {"overlong slash", "\xC0\xAF", std::u16string{fffd, fffd}},
        {"encoded surrogate", "\xED\xA0\x80", std::u16string{fffd, fffd, fffd}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", std::u16string{fffd, fffd, fffd, fffd}},
        {"astral", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"largest scalar", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
    };
    for (const auto& c : cases) EXPECT_EQ(to_wide(c.utf8), c.wide) << c.what;
}

TEST(Converters, ValidTextRoundTrips) {
    const std::u16string texts[] = {
        u"Vellumo for DaVinci Resolve",
        u"C:\\Users\\J\u00f6rg\\AppData\\Local",
        u"\u65e5\u672c\u8a9e \U0001F3AC \U00010000 \U0010FFFF",
        u"nul\0inside"s,
    };
    for (const auto& text : texts) {
        EXPECT_EQ(to_wide(to_utf8(text)), text);
        EXPECT_EQ(to_utf8(to_wide(to_utf8(text))), to_utf8(text));
    }
}

TEST(PathText, InvalidFileNameBytesNeverThrow) {
    const std::filesystem::path odd("/tmp/bad\xFFname");
    EXPECT_EQ(path_utf8(odd), "/tmp/bad\xEF\xBF\xBDname");
    EXPECT_EQ(path_from_wide(std::u16string{u'/', char16_t(0xD800)}).native(), "/\xEF\xBF\xBD");
    EXPECT_EQ(path_from_utf8("/opt/J\xC3\xB6rg").native(), "/opt/J\xC3\xB6rg");
}

TEST(Resources, PageAndPackAreEmbeddedAndOtherIdsAreEmpty) {
    std::ifstream page_file(VELLUMO_PAGE_FILE, std::ios::binary);
    const std::string page_bytes((std::istreambuf_iterator<char>(page_file)), {});
    ASSERT_FALSE(page_bytes.empty());
    EXPECT_EQ(load_rcdata_resource(101), page_bytes);
    const std::string pack = load_rcdata_resource(102);
    ASSERT_GE(pack.size(), 12u);
    EXPECT_EQ(pack.substr(0, 4), "VPAK");
    EXPECT_TRUE(load_rcdata_resource(0).empty());
    EXPECT_TRUE(load_rcdata_resource(100).empty());
    EXPECT_TRUE(load_rcdata_resource(103).empty());
}

TEST(ExecutablePath, NamesTheRunningTestProgram) {
    const std::filesystem::path exe = current_exe_path();
    EXPECT_TRUE(exe.is_absolute());
    EXPECT_EQ(exe.filename(), "unit_tests");
}

}  // namespace
}  // namespace vellumo
