// The LZMS container reader against genuine Compression API output, and its
// handling of malformed containers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "pack_builder.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), {});
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

bool decompress(const Bytes& in, Bytes& out, std::size_t& written) {
    return platform::os().lzms_decompress(in.data(), in.size(), out.data(), out.size(), written);
}

// The genuine Compression API output lives in ../shared beside the repository,
// which a clone on its own lacks.
const std::filesystem::path genuine_fixtures = std::filesystem::path(VELLUMO_FIXTURES_DIR) / "lzms";

std::string missing_fixtures_reason() {
    return "no genuine Compression API output here: " + genuine_fixtures.string() +
           " is missing (it comes with ../shared beside the repository)";
}

TEST(LzmsContainer, DecodesGenuineCompressionApiOutput) {
    if (!std::filesystem::is_directory(genuine_fixtures)) GTEST_SKIP() << missing_fixtures_reason();
    const std::filesystem::path& dir = genuine_fixtures;
    for (const char* name : {"zeros", "sequential", "pattern", "single_byte", "small"}) {
        const Bytes packed = read_bytes(dir / (std::string(name) + ".lzms"));
        const Bytes raw = read_bytes(dir / (std::string(name) + ".raw"));
        ASSERT_FALSE(packed.empty()) << name;
        ASSERT_FALSE(raw.empty()) << name;
        Bytes out(raw.size(), 0xCC);
        std::size_t written = 0;
        ASSERT_TRUE(decompress(packed, out, written)) << name;
        EXPECT_EQ(written, raw.size()) << name;
        EXPECT_EQ(out, raw) << name;
    }
}

TEST(LzmsContainer, LargerBufferReportsTheBytesWritten) {
    const Bytes packed = bytes_of(test::stored_container("abc"));
    Bytes out(10);
    std::size_t written = 0;
    ASSERT_TRUE(decompress(packed, out, written));
    EXPECT_EQ(written, 3u);
}

struct MalformedCase {
    const char* what;
    std::size_t offset;  // byte to change in the fixture's container
    int delta;
};

TEST(LzmsContainer, RefusesMalformedContainers) {
    if (!std::filesystem::is_directory(genuine_fixtures)) GTEST_SKIP() << missing_fixtures_reason();
    const std::filesystem::path& dir = genuine_fixtures;
    const Bytes good = read_bytes(dir / "pattern.lzms");
    const Bytes raw = read_bytes(dir / "pattern.raw");
    ASSERT_GT(good.size(), 24u) << "fixture missing: " << dir;
    ASSERT_FALSE(raw.empty());
    const MalformedCase cases[] = {
        {"magic", 0, 1},         {"header size", 4, 1},    {"CRC byte", 6, 1},
        {"algorithm", 7, 1},     {"total size", 8, 1},     {"flags", 20, 1},
        {"chunk stored size", 24, 1},
    };
    for (const auto& c : cases) {
        Bytes bad = good;
        bad[c.offset] = static_cast<std::uint8_t>(bad[c.offset] + c.delta);
        if (c.offset != 6 && c.offset != 24)  // keep the CRC right for other fields
            bad[6] = lzms_container::header_crc(bad.data());
        Bytes out(raw.size() + 16);
        std::size_t written = 0;
        const bool ok = decompress(bad, out, written);
        EXPECT_FALSE(ok && written == raw.size() && std::equal(raw.begin(), raw.end(), out.begin()))
            << c.what;
    }

    Bytes out(raw.size());
    std::size_t written = 0;
    Bytes trailing = good;
    trailing.push_back(0);
    EXPECT_FALSE(decompress(trailing, out, written)) << "trailing byte";
    Bytes cut(good.begin(), good.end() - 1);
    EXPECT_FALSE(decompress(cut, out, written)) << "cut short";
    Bytes small_out(raw.size() - 1);
    EXPECT_FALSE(decompress(good, small_out, written)) << "buffer too small";
    Bytes header_only(good.begin(), good.begin() + 23);
    EXPECT_FALSE(decompress(header_only, out, written)) << "short header";
}

TEST(LzmsContainer, StoredSizeAboveTheChunkIsMalformed) {
    std::string container = test::stored_container("abcd");
    container[24] = 5;  // stored size 5 for a 4-byte chunk
    container += 'e';
    const Bytes in = bytes_of(container);
    Bytes out(4);
    std::size_t written = 0;
    EXPECT_FALSE(decompress(in, out, written));
}

TEST(LzmsContainer, EmptyContainerHasNoChunks) {
    const Bytes empty = bytes_of(test::stored_container(""));
    Bytes out(1);
    std::size_t written = 7;
    ASSERT_TRUE(decompress(empty, out, written));
    EXPECT_EQ(written, 0u);
    Bytes with_chunk = empty;
    with_chunk.insert(with_chunk.end(), {0, 0, 0, 0});
    EXPECT_FALSE(decompress(with_chunk, out, written));
}

}  // namespace
}  // namespace vellumo
