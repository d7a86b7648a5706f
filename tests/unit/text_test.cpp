#include "engine/text.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace vellumo {
namespace {

TEST(PathText, InvalidFileNameBytesNeverThrow) {
    const std::filesystem::path odd("/tmp/bad\xFFname");
    EXPECT_EQ(path_utf8(odd), "/tmp/bad\xEF\xBF\xBDname");
    EXPECT_EQ(path_from_wide(std::u16string{u'/', char16_t(0xD800)}).native(), "/\xEF\xBF\xBD");
    EXPECT_EQ(path_from_utf8("/opt/J\xC3\xB6rg").native(), "/opt/J\xC3\xB6rg");
}

// A name that is not UTF-8 has only a lossy text, which names another file.
TEST(PathText, OnlyValidNamesComeBackExactlyFromTheirText) {
    const struct {
        const char* what;
        std::filesystem::path path;
        bool exact;
    } cases[] = {
        {"ASCII", "/home/user/file.txt", true},
        {"UTF-8", "/opt/J\xC3\xB6rg/\xF0\x9F\x8E\xAC", true},
        {"U+FFFD itself", "/tmp/Ren\xEF\xBF\xBD", true},
        {"no text", "", true},
        {"a Latin-1 byte", "/tmp/Ren\xE9/file.txt", false},
        {"a sequence cut short", "/tmp/J\xC3", false},
        {"an encoded surrogate", "/tmp/\xED\xA0\x80", false},
        {"an overlong slash", "/tmp/\xC0\xAF", false},
    };
    for (const auto& c : cases) EXPECT_EQ(path_utf8_is_exact(c.path), c.exact) << c.what;
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
