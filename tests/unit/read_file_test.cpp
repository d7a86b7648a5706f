// Reading a file through the seam: only a regular file is read, and nothing
// at its name (a fifo least of all) can hold the reader.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>

#include "hermetic_env.hpp"
#include "platform/platform.hpp"
#include "sandbox_fixture.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using platform::os;
using test::write_text;

// read_regular_file given a minute: a reader held at a fifo fails the test and
// is then let go (a writer that opens and closes gives it the end of the file).
std::optional<std::string> read_without_waiting(const fs::path& path, std::size_t limit) {
    auto reading =
        std::async(std::launch::async, [&] { return os().read_regular_file(path, limit); });
    if (reading.wait_for(std::chrono::minutes(1)) == std::future_status::timeout) {
        ADD_FAILURE() << "the read waited for a writer";
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
    return reading.get();
}

TEST(ReadRegularFile, ReadsOnlyARegularFileWithinTheLimit) {
    test::HermeticEnv env;
    const fs::path folder = env.root() / "files";
    const fs::path name = folder / "install.json";
    const fs::path elsewhere = env.root() / "elsewhere.json";
    const std::string chunks(40 * 1024 + 7, 'x');  // more than one read
    constexpr std::size_t limit = 64 * 1024;
    struct Case {
        const char* what;
        std::function<void()> plant;
        std::optional<std::string> read;
        fs::path path = {};  // the name unless given
    };
    const Case cases[] = {
        {"a regular file", [&] { write_text(name, "{}"); }, "{}"},
        {"an empty file", [&] { write_text(name, ""); }, ""},
        {"a file of several chunks", [&] { write_text(name, chunks); }, chunks},
        {"a file of exactly the limit", [&] { write_text(name, std::string(limit, 'y')); },
         std::string(limit, 'y')},
        {"a file one byte over the limit", [&] { write_text(name, std::string(limit + 1, 'y')); },
         std::nullopt},
        {"a fifo", [&] { ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0); }, std::nullopt},
        {"a folder", [&] { fs::create_directory(name); }, std::nullopt},
        {"a link to a file",
         [&] {
             write_text(elsewhere, "{}");
             fs::create_symlink(elsewhere, name);
         },
         std::nullopt},
        {"a dangling link", [&] { fs::create_symlink(env.root() / "nowhere", name); },
         std::nullopt},
        {"nothing", [] {}, std::nullopt},
        {"a device", [] {}, std::nullopt, "/dev/null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder);
        fs::create_directories(folder);
        c.plant();
        EXPECT_EQ(read_without_waiting(c.path.empty() ? name : c.path, limit), c.read);
    }
}

}  // namespace
}  // namespace vellumo
