// The converters over the platform's own code page calls. How many U+FFFD a
// run of invalid bytes gives is the platform's: these rows are Wine's
// MultiByteToWideChar (Windows itself may count otherwise); what holds
// everywhere is that nothing throws, valid text round-trips and every invalid
// run becomes U+FFFD.
#include <string>

#include "engine/text.hpp"
#include "windows/wine_world.hpp"

namespace vellumo {
namespace {

using namespace std::string_literals;
constexpr char16_t fffd = 0xFFFD;

struct Utf8Case {
    const char* what;
    std::string utf8;
    std::u16string wide;
};

TEST(ToWide, ReplacesInvalidRunsAsWineCountsThem) {
    const Utf8Case cases[] = {
        {"empty", "", u""},
        {"embedded NUL is content", "a\0b"s, u"a\0b"s},
        {"single 0xFF", "\xFF", std::u16string(1, fffd)},
        {"stray continuation", "a\x80z", std::u16string{u'a', fffd, u'z'}},
        {"truncated sequence at the end", "\xE2\x82", std::u16string(1, fffd)},
        {"truncated sequence before ascii", "\xE2\x82x", std::u16string{fffd, u'x'}},
        {"overlong slash", "\xC0\xAF", std::u16string{fffd, fffd}},
        // Wine: 2 and 3 (the Linux transcoder gives 3 and 4).
        {"encoded surrogate", "\xED\xA0\x80", std::u16string{fffd, fffd}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", std::u16string{fffd, fffd, fffd}},
        {"astral", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"largest scalar", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
    };
    for (const auto& c : cases) EXPECT_EQ(to_wide(c.utf8), c.wide) << c.what;
}

TEST(ToUtf8, ReplacesUnpairedSurrogates) {
    const struct {
        const char* what;
        std::u16string wide;
        std::string utf8;
    } cases[] = {
        {"empty", u"", ""},
        {"embedded NUL is content", u"a\0b"s, "a\0b"s},
        {"two and three byte forms", u"\u00e9\u20ac", "\xC3\xA9\xE2\x82\xAC"},
        {"astral pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"lone high surrogate", std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD"},
        {"lone low surrogate", std::u16string(1, char16_t(0xDC00)), "\xEF\xBF\xBD"},
        {"high surrogate then ascii", std::u16string{char16_t(0xD83D), u'x'}, "\xEF\xBF\xBDx"},
    };
    for (const auto& c : cases) EXPECT_EQ(to_utf8(c.wide), c.utf8) << c.what;
}

// Every invalid input, whatever the count, becomes text made of the valid
// parts and U+FFFD only, and converts back without loss.
TEST(Converters, InvalidInputBecomesReplacementCharactersOnly) {
    const std::string invalid[] = {
        "\xFF\xFE", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC0\xAF", "\xE2\x82", "\x80\x80\x80",
        "\xF8\x88\x80\x80\x80", "\xF0\x9F\x98",
    };
    for (const auto& bytes : invalid) {
        std::u16string wide;
        EXPECT_NO_THROW(wide = to_wide("<" + bytes + ">"));
        ASSERT_GE(wide.size(), 3u);
        EXPECT_EQ(wide.front(), u'<');
        EXPECT_EQ(wide.back(), u'>');
        for (std::size_t i = 1; i + 1 < wide.size(); ++i) EXPECT_EQ(wide[i], fffd);
        EXPECT_EQ(to_wide(to_utf8(wide)), wide);
    }
}

TEST(Converters, ValidTextRoundTrips) {
    const std::u16string texts[] = {
        u"Vellumo for DaVinci Resolve",
        u"C:\\Users\\J\u00f6rg\\AppData\\Local",
        u"\u65e5\u672c\u8a9e \U0001F3AC \U00010000 \U0010FFFF",
        u"nul\0inside"s,
        std::u16string(70000, u'\u00e9'),  // longer than any buffer of the program
    };
    for (const auto& text : texts) {
        EXPECT_EQ(to_wide(to_utf8(text)), text);
        EXPECT_EQ(to_utf8(to_wide(to_utf8(text))), to_utf8(text));
    }
}

TEST(PathText, PathsRoundTripThroughUtf16) {
    const std::u16string text = u"Z:\\tmp\\J\u00f6rg \U0001F3AC\\file.txt";
    EXPECT_EQ(path_wide(path_from_wide(text)), text);
    EXPECT_EQ(path_utf8(path_from_wide(text)), to_utf8(text));
    EXPECT_EQ(path_from_utf8(to_utf8(text)), path_from_wide(text));
    EXPECT_NO_THROW(path_utf8(path_from_wide(std::u16string{u'a', char16_t(0xD800)})));
}

}  // namespace
}  // namespace vellumo
