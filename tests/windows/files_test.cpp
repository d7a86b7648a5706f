// Files under Wine: the two moves, the link test, and exclusive creation that
// never writes through a link. Wine 8 cannot make a junction or a Windows
// symbolic link (see make_unix_link), so the links here are Unix links.
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "windows/wine_world.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using platform::NewFile;
using platform::os;
using test::read_bytes;
using test::write_bytes;

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

TEST(Moves, ReplacingMoveReplacesAndNoOverwriteMoveRefuses) {
    const fs::path folder = test::fresh_folder();
    const fs::path from = folder / L"new", to = folder / L"target";
    write_bytes(from, "new");
    write_bytes(to, "old");
    EXPECT_TRUE(os().move_file_replacing(from, to));
    EXPECT_EQ(read_bytes(to), "new");
    EXPECT_FALSE(test::present(from));

    const fs::path other = folder / L"other";
    write_bytes(other, "other");
    for (const bool write_through : {false, true}) {
        EXPECT_FALSE(os().move_file_no_overwrite(other, to, write_through));
        EXPECT_EQ(read_bytes(to), "new");
        EXPECT_EQ(read_bytes(other), "other");
    }
    const fs::path aside = folder / L"target.old-1";
    EXPECT_TRUE(os().move_file_no_overwrite(to, aside, false));
    EXPECT_TRUE(os().move_file_no_overwrite(other, to, true));
    EXPECT_EQ(read_bytes(aside), "new");
    EXPECT_EQ(read_bytes(to), "other");
    EXPECT_FALSE(os().move_file_replacing(folder / L"missing", to));
}

// Wine shows a link to a folder as a reparse point; a link to a file it
// shows as a plain file, so that case is left to the Linux tests (exclusive
// creation below refuses it all the same).
TEST(Links, ALinkToAFolderIsALinkAndNothingElseIs) {
    const fs::path folder = test::fresh_folder();
    write_bytes(folder / L"file", "x");
    fs::create_directory(folder / L"dir");
    ASSERT_TRUE(test::make_unix_link(folder / L"dir", folder / L"dir-link"));

    const struct {
        const char* name;
        bool link;
    } cases[] = {{"file", false}, {"dir", false}, {"missing", false}, {"dir-link", true}};
    for (const auto& c : cases) EXPECT_EQ(os().is_link(folder / c.name), c.link) << c.name;
    // A link in a folder above is not the path's own.
    EXPECT_FALSE(os().is_link(folder / L"dir-link" / L"inside"));
}

TEST(NewFiles, WrittenExclusivelyAndNeverThroughALink) {
    const fs::path folder = test::fresh_folder();
    const fs::path outside = test::fresh_folder() / L"outside";
    write_bytes(outside, "outside");
    ASSERT_TRUE(test::make_unix_link(outside, folder / L"planted"));
    write_bytes(folder / L"existing", "existing");

    EXPECT_EQ(os().write_new_file(folder / L"new", bytes_of("content")), NewFile::written);
    EXPECT_EQ(read_bytes(folder / L"new"), "content");
    EXPECT_EQ(os().write_new_file(folder / L"empty", {}), NewFile::written);
    EXPECT_EQ(read_bytes(folder / L"empty"), "");

    EXPECT_EQ(os().write_new_file(folder / L"existing", bytes_of("again")), NewFile::not_created);
    EXPECT_EQ(read_bytes(folder / L"existing"), "existing");
    EXPECT_EQ(os().write_new_file(folder / L"planted", bytes_of("through")), NewFile::not_created);
    EXPECT_EQ(read_bytes(outside), "outside");
    EXPECT_EQ(os().write_new_file(folder / L"missing-folder" / L"file", bytes_of("x")),
              NewFile::not_created);

    // Wine does not show a link whose target is gone at all; it is not
    // written through either.
    const fs::path gone = test::fresh_folder() / L"gone";
    write_bytes(gone, "gone");
    ASSERT_TRUE(test::make_unix_link(gone, folder / L"dangling"));
    ASSERT_TRUE(DeleteFileW(gone.c_str()));
    EXPECT_EQ(os().write_new_file(folder / L"dangling", bytes_of("through")), NewFile::not_created);
    EXPECT_FALSE(test::present(gone));
}

TEST(NewFiles, CopiesExclusivelyAndNeverThroughALink) {
    const fs::path folder = test::fresh_folder();
    const std::string big(3 * 1024 * 1024 + 17, 'b');  // more than one buffer of any copy
    write_bytes(folder / L"source", big);
    const fs::path outside = test::fresh_folder() / L"outside";
    write_bytes(outside, "outside");
    ASSERT_TRUE(test::make_unix_link(outside, folder / L"planted"));

    EXPECT_EQ(os().copy_to_new_file(folder / L"source", folder / L"copy"), NewFile::written);
    EXPECT_TRUE(test::holds(folder / L"copy", big));
    EXPECT_EQ(os().copy_to_new_file(folder / L"source", folder / L"copy"), NewFile::not_created);
    EXPECT_EQ(os().copy_to_new_file(folder / L"source", folder / L"planted"), NewFile::not_created);
    EXPECT_TRUE(test::holds(outside, "outside"));
    EXPECT_EQ(os().copy_to_new_file(folder / L"missing", folder / L"from-missing"),
              NewFile::not_written);
    EXPECT_FALSE(test::present(folder / L"from-missing"));
}

}  // namespace
}  // namespace vellumo
