#include "engine/payload.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "engine/product_info.hpp"
#include "pack_builder.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

using test::entry;
using test::entry_bytes;
using test::pack_header;
using test::pack_of;
using test::PackEntry;
using test::product_entries;

const std::string damaged = "This installer is damaged. Download it again from vellumo.app.";

// Serves a pack of the test's making as resource 102 and counts the reads.
struct PackSystem : platform::System {
    std::string pack;
    int reads = 0;
    int hashes = 0;
    int decompressions = 0;
    bool hash_fails = false;

    std::string rcdata_resource(unsigned id) override {
        if (id != 102) return {};
        ++reads;
        return pack;
    }
    bool sha256(const std::uint8_t* data, std::size_t size, platform::Sha256Digest& d) override {
        ++hashes;
        return !hash_fails && System::sha256(data, size, d);
    }
    bool lzms_decompress(const std::uint8_t* in, std::size_t in_size, std::uint8_t* out,
                         std::size_t out_size, std::size_t& written) override {
        ++decompressions;
        return System::lzms_decompress(in, in_size, out, out_size, written);
    }
};

class LoadPayload : public ::testing::Test {
protected:
    void SetUp() override { payload_files.clear(); }
    void TearDown() override { payload_files.clear(); }

    bool load(const std::string& pack) {
        system.pack = pack;
        error = "untouched";
        return load_payload(error);
    }

    PackSystem system;
    platform::ScopedSystem use{system};
    std::string error;
};

std::string with_count(std::uint32_t count, const std::vector<PackEntry>& entries) {
    std::string out = pack_header(count);
    for (const auto& e : entries) out += entry_bytes(e);
    return out;
}

std::vector<PackEntry> with_extra(PackEntry extra) {
    auto entries = product_entries();
    entries.push_back(std::move(extra));
    return entries;
}

PackEntry named(std::string name) { return entry(std::move(name), "x"); }

PackEntry sized(std::uint64_t unpacked_size) {
    PackEntry e = entry("extra", "x");
    e.unpacked_size = unpacked_size;
    return e;
}

struct PackCase {
    const char* what;
    std::function<std::string()> pack;
    bool valid;
};

TEST_F(LoadPayload, ChecksEveryHeaderAndEntryRule) {
    const PackCase cases[] = {
        {"the product pack", [] { return pack_of(product_entries()); }, true},
        {"missing resource", [] { return std::string(); }, false},
        {"11 bytes", [] { return pack_header(1).substr(0, 11); }, false},
        {"12 bytes, count 1, no entry", [] { return pack_header(1); }, false},
        {"12 bytes, count 0", [] { return pack_header(0); }, false},
        {"wrong magic",
         [] { auto p = pack_of(product_entries()); p[0] = 'v'; return p; }, false},
        {"version 0",
         [] { auto p = pack_of(product_entries()); p[4] = 0; return p; }, false},
        {"version 2",
         [] { auto p = pack_of(product_entries()); p[4] = 2; return p; }, false},
        {"count 64 with 64 entries",
         [] {
             auto entries = product_entries();
             for (int i = 0; i < 61; ++i) entries.push_back(named("e" + std::to_string(i)));
             return pack_of(entries);
         },
         true},
        {"count 65 with 65 entries",
         [] {
             auto entries = product_entries();
             for (int i = 0; i < 62; ++i) entries.push_back(named("e" + std::to_string(i)));
             return pack_of(entries);
         },
         false},
        {"count larger than the entries", [] { return with_count(4, product_entries()); }, false},
        {"count smaller than the entries (trailing entry)",
         [] { return with_count(3, with_extra(named("extra"))); }, false},
        {"name length 0", [] { return pack_of(with_extra(named(""))); }, false},
        {"name length 200", [] { return pack_of(with_extra(named(std::string(200, 'a')))); },
         true},
        {"name length 201", [] { return pack_of(with_extra(named(std::string(201, 'a')))); },
         false},
        {"name bytes: letters, digits, space, - . _",
         [] { return pack_of(with_extra(named("Az09 -._"))); }, true},
        {"name with slash", [] { return pack_of(with_extra(named("a/b"))); }, false},
        {"name with backslash", [] { return pack_of(with_extra(named("a\\b"))); }, false},
        {"name with colon", [] { return pack_of(with_extra(named("a:b"))); }, false},
        {"name with byte 0x80", [] { return pack_of(with_extra(named("a\x80"))); }, false},
        {"name with byte 0xFF", [] { return pack_of(with_extra(named("\xFF"))); }, false},
        {"entry header cut after the name length",
         [] { return pack_of(product_entries()) + std::string("\x05\x00", 2); }, false},
        {"unpacked size 0x20000000 (unused entry)",
         [] { return pack_of(with_extra(sized(0x20000000))); }, true},
        {"unpacked size 0x20000001 (unused entry)",
         [] { return pack_of(with_extra(sized(0x20000001))); }, false},
        {"stored size one past the end",
         [] {
             auto entries = product_entries();
             entries.back().stored_size += 1;
             return pack_of(entries);
         },
         false},
        {"stored size huge (no wrap-around)",
         [] {
             auto entries = product_entries();
             entries.back().stored_size = ~0ull - 20;
             return pack_of(entries);
         },
         false},
        {"stored size shorter than the bytes (trailing bytes)",
         [] {
             auto entries = product_entries();
             entries.back().stored_size -= 1;
             return pack_of(entries);
         },
         false},
        {"one trailing byte", [] { return pack_of(product_entries()) + '\0'; }, false},
        {"missing payload name",
         [] {
             auto entries = product_entries();
             entries.erase(entries.begin() + 1);
             return pack_of(entries);
         },
         false},
        {"payload name in another letter case",
         [] {
             auto entries = product_entries();
             entries[2].name = "setup.md";
             return pack_of(entries);
         },
         false},
        {"damaged digest of an unused entry does not matter",
         [] {
             auto extra = named("extra");
             extra.digest[0] ^= 1;
             return pack_of(with_extra(extra));
         },
         true},
        {"repeated name: the later entry is used, the earlier never unpacked",
         [] {
             auto first = entry("SETUP.md", "old");
             first.digest[0] ^= 1;
             first.stored = "not a container";
             first.stored_size = first.stored.size();
             auto entries = product_entries();
             entries.insert(entries.begin(), first);
             return pack_of(entries);
         },
         true},
        {"repeated name: a damaged later entry fails",
         [] {
             auto last = entry("SETUP.md", "new");
             last.digest[0] ^= 1;
             return pack_of(with_extra(last));
         },
         false},
        {"zero-size entry with the digest of empty input",
         [] {
             auto entries = product_entries();
             entries[1] = entry("Vellumo.py", "");
             return pack_of(entries);
         },
         true},
        {"zero-size entry with another digest",
         [] {
             auto entries = product_entries();
             entries[1] = entry("Vellumo.py", "");
             entries[1].digest = test::sha256_of("x");
             return pack_of(entries);
         },
         false},
        {"container shorter than the unpacked size",
         [] {
             auto entries = product_entries();
             entries[0].unpacked_size += 1;
             return pack_of(entries);
         },
         false},
        {"container longer than the unpacked size",
         [] {
             auto entries = product_entries();
             entries[0].unpacked_size -= 1;
             return pack_of(entries);
         },
         false},
        {"container with a bad CRC byte",
         [] {
             auto entries = product_entries();
             entries[0].stored[6] ^= 1;
             return pack_of(entries);
         },
         false},
    };
    for (const auto& c : cases) {
        payload_files.clear();
        const bool ok = load(c.pack());
        EXPECT_EQ(ok, c.valid) << c.what;
        if (c.valid) {
            EXPECT_EQ(error, "untouched") << c.what;
            EXPECT_EQ(payload_files.size(), 3u) << c.what;
        } else {
            EXPECT_EQ(error, damaged) << c.what;
            EXPECT_TRUE(payload_files.empty()) << c.what;
        }
    }
}

TEST_F(LoadPayload, FillsTheMapWithTheProductFilesOnly) {
    ASSERT_TRUE(load(pack_of(with_extra(named("extra")))));
    ASSERT_EQ(payload_files.size(), 3u);
    const auto text = [](const std::vector<std::uint8_t>& b) { return std::string(b.begin(), b.end()); };
    EXPECT_EQ(text(payload_files.at("VellumoCompanion.exe")), "MZ companion");
    EXPECT_EQ(text(payload_files.at("Vellumo.py")), "print('v')\n");
    EXPECT_EQ(text(payload_files.at("SETUP.md")), "# Setup\n");
    EXPECT_EQ(system.decompressions, 3);  // the extra entry is never unpacked
    EXPECT_EQ(system.hashes, 3);
}

TEST_F(LoadPayload, ZeroSizeEntryIsHashedButNotDecompressed) {
    auto entries = product_entries();
    entries[1] = entry("Vellumo.py", "");
    ASSERT_TRUE(load(pack_of(entries)));
    EXPECT_EQ(system.decompressions, 2);
    EXPECT_EQ(system.hashes, 3);
    EXPECT_TRUE(payload_files.at("Vellumo.py").empty());
}

TEST_F(LoadPayload, DigestMismatchOnTheThirdNameLeavesTheMapEmpty) {
    auto entries = product_entries();
    entries[2].digest[31] ^= 0x40;
    EXPECT_FALSE(load(pack_of(entries)));
    EXPECT_EQ(system.hashes, 3);  // the first two were unpacked and verified
    EXPECT_TRUE(payload_files.empty());
    EXPECT_EQ(error, damaged);
}

TEST_F(LoadPayload, FailingHashCallIsDamage) {
    system.hash_fails = true;
    EXPECT_FALSE(load(pack_of(product_entries())));
    EXPECT_EQ(error, damaged);
    EXPECT_TRUE(payload_files.empty());
}

TEST_F(LoadPayload, SucceedsOncePerProcess) {
    ASSERT_TRUE(load(pack_of(product_entries())));
    system.pack = "garbage";
    error = "an earlier message";
    EXPECT_TRUE(load_payload(error));
    EXPECT_EQ(error, "an earlier message");
    EXPECT_EQ(system.reads, 1);
}

TEST_F(LoadPayload, FailedCallIsFollowedByAFullReRead) {
    EXPECT_FALSE(load("VPAK"));
    EXPECT_TRUE(load(pack_of(product_entries())));
    EXPECT_EQ(system.reads, 2);
    EXPECT_EQ(payload_files.size(), 3u);
}

// The pack this build embedded holds the payload folder's files.
TEST(EmbeddedPack, HoldsThePayloadFolder) {
    if (VELLUMO_READY_PACK) GTEST_SKIP() << "built with a ready pack";
    payload_files.clear();
    std::string error;
    ASSERT_TRUE(load_payload(error)) << error;
    ASSERT_EQ(payload_files.size(), product_info.payload_names.size());
    for (const std::string& name : product_info.payload_names) {
        std::ifstream in(std::filesystem::path(VELLUMO_PAYLOAD_DIR) / name, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(payload_files.at(name), bytes) << name;
    }
    payload_files.clear();
}

}  // namespace
}  // namespace vellumo
