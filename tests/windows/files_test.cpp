// Files under Wine: the two moves, the link test, exclusive creation that
// never writes through a link, and tree removal that never enters one. Wine 8
// cannot make a junction or a Windows symbolic link (see make_unix_link), so
// the links here are Unix links.
#include <functional>
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

struct TreeCase {
    const char* what;
    std::function<bool(const fs::path& tree, const fs::path& outside)> setup;  // false: not made
    bool gone;  // what Wine makes of it: it cannot remove a folder link
};

void plain_tree(const fs::path& tree) {
    write_bytes(tree / L"file", "x");
    write_bytes(tree / L"a" / L"b" / L"file", "y");
    fs::create_directories(tree / L"empty");
}

bool is_read_only(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// Windows refuses to remove a read-only file or folder.
bool make_read_only(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY) &&
           is_read_only(path);
}

// A link to a folder is never entered: its target's files survive, read-only
// as they were. Wine cannot remove the link itself, so the tree stays; it
// deletes the target of a link to a file (which it shows as a plain file)
// and hides a dangling link, so those cases check only that nothing else is
// touched.
TEST(TreeRemoval, RemovesATreeAndNeverEntersALinkInIt) {
    using Paths = const fs::path&;
    const TreeCase cases[] = {
        {"a tree without links", [](Paths t, Paths) { plain_tree(t); return true; }, true},
        {"read-only files and folders",
         [](Paths t, Paths) {
             plain_tree(t);
             // Wine keeps the attribute of a file only; Windows of a folder too.
             make_read_only(t / L"a");
             make_read_only(t / L"empty");
             return make_read_only(t / L"file") && make_read_only(t / L"a" / L"b" / L"file");
         },
         true},
        {"the top is a link to a folder",
         [](Paths t, Paths o) { return test::make_unix_link(o / L"sub", t); }, false},
        {"a link to a folder deep inside",
         [](Paths t, Paths o) {
             plain_tree(t);
             return test::make_unix_link(o / L"sub", t / L"a" / L"b" / L"link");
         },
         false},
        {"a link to a file deep inside",
         [](Paths t, Paths o) {
             plain_tree(t);
             return test::make_unix_link(o / L"file", t / L"a" / L"link");
         },
         false},
        {"a dangling link deep inside",
         [](Paths t, Paths o) {
             plain_tree(t);
             write_bytes(o / L"gone", "gone");
             const bool made = test::make_unix_link(o / L"gone", t / L"a" / L"link");
             return DeleteFileW((o / L"gone").c_str()) && made;
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path tree = test::fresh_folder() / L"tree";
        const fs::path outside = test::fresh_folder();
        write_bytes(outside / L"file", "keep");
        write_bytes(outside / L"sub" / L"deeper", "keep too");
        ASSERT_TRUE(make_read_only(outside / L"sub" / L"deeper"));
        ASSERT_TRUE(c.setup(tree, outside));

        EXPECT_EQ(os().remove_tree(tree), c.gone);
        EXPECT_EQ(test::present(tree), !c.gone);
        EXPECT_TRUE(test::holds(outside / L"sub" / L"deeper", "keep too"));
        EXPECT_TRUE(is_read_only(outside / L"sub" / L"deeper"));
        EXPECT_FALSE(test::present(tree / L"file"));
    }
}

// A file that another handle holds without FILE_SHARE_DELETE cannot go.
TEST(TreeRemoval, WhatStaysKeepsItsReadOnlyAttribute) {
    const fs::path tree = test::fresh_folder() / L"tree";
    plain_tree(tree);
    write_bytes(tree / L"held", "held");
    ASSERT_TRUE(make_read_only(tree / L"held"));
    const HANDLE held = CreateFileW((tree / L"held").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    EXPECT_FALSE(os().remove_tree(tree));
    CloseHandle(held);
    EXPECT_TRUE(test::holds(tree / L"held", "held"));
    EXPECT_TRUE(is_read_only(tree / L"held"));
    EXPECT_FALSE(test::present(tree / L"a"));
}

TEST(TreeRemoval, NothingThereCountsAsGone) {
    const fs::path folder = test::fresh_folder();
    EXPECT_TRUE(os().remove_tree(folder / L"missing"));
    EXPECT_TRUE(os().remove_tree(folder / L"missing" / L"deeper"));
    write_bytes(folder / L"file", "x");
    EXPECT_TRUE(os().remove_tree(folder / L"file"));
    EXPECT_FALSE(test::present(folder / L"file"));
}

}  // namespace
}  // namespace vellumo
