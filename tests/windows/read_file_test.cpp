// Reading a file under Wine: only a file on disk is read. Wine shows a Unix
// link to a file as a plain file, so that case is left to the Linux tests.
#include <functional>
#include <optional>
#include <string>

#include "platform/platform.hpp"
#include "windows/wine_world.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using platform::os;
using test::write_bytes;

TEST(ReadRegularFile, ReadsOnlyAFileOnDiskWithinTheLimit) {
    const fs::path folder = test::fresh_folder();
    const fs::path elsewhere = test::fresh_folder();
    constexpr std::size_t limit = 64 * 1024;
    const std::string chunks(40 * 1024 + 7, 'x');
    struct Case {
        const wchar_t* name;
        std::function<void(const fs::path&)> plant;
        std::optional<std::string> read;
    };
    const Case cases[] = {
        {L"file", [](const fs::path& p) { write_bytes(p, "{}"); }, "{}"},
        {L"empty", [](const fs::path& p) { write_bytes(p, ""); }, ""},
        {L"chunks", [&](const fs::path& p) { write_bytes(p, chunks); }, chunks},
        {L"at-limit", [](const fs::path& p) { write_bytes(p, std::string(limit, 'y')); },
         std::string(limit, 'y')},
        {L"over-limit", [](const fs::path& p) { write_bytes(p, std::string(limit + 1, 'y')); },
         std::nullopt},
        {L"folder", [](const fs::path& p) { fs::create_directory(p); }, std::nullopt},
        {L"folder-link",
         [&](const fs::path& p) { ASSERT_TRUE(test::make_unix_link(elsewhere, p)); }, std::nullopt},
        {L"missing", [](const fs::path&) {}, std::nullopt},
    };
    for (const auto& c : cases) {
        const fs::path path = folder / c.name;
        SCOPED_TRACE(path.string());
        c.plant(path);
        EXPECT_EQ(os().read_regular_file(path, limit), c.read);
    }
    // A device reads as nothing, not as an empty file.
    EXPECT_EQ(os().read_regular_file(L"NUL", limit), std::nullopt);
}

}  // namespace
}  // namespace vellumo
