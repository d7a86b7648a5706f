// Path text over the platform's UTF-16 paths (the converters' own rows are
// shared with Linux, in unit/converters_test.cpp).
#include <string>

#include "engine/text.hpp"
#include "windows/wine_world.hpp"

namespace vellumo {
namespace {

TEST(PathText, PathsRoundTripThroughUtf16) {
    const std::u16string text = u"Z:\\tmp\\J\u00f6rg \U0001F3AC\\file.txt";
    EXPECT_EQ(path_wide(path_from_wide(text)), text);
    EXPECT_EQ(path_utf8(path_from_wide(text)), to_utf8(text));
    EXPECT_EQ(path_from_utf8(to_utf8(text)), path_from_wide(text));
    EXPECT_NO_THROW(path_utf8(path_from_wide(std::u16string{u'a', char16_t(0xD800)})));
}

}  // namespace
}  // namespace vellumo
