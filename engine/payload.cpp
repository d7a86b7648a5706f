// The payload pack. All integers little-endian and unsigned, nothing padded.
//
//   header, 12 bytes
//   0    4   magic "VPAK"
//   4    4   version, 1
//   8    4   entry count, 1 to 64
//
//   entry at offset o, with n the name length
//   0        2    n, 1 to 200
//   2        n    name: A-Z a-z 0-9, space, '-', '.', '_'
//   2+n      8    unpacked size, at most max_unpacked_size
//   10+n     8    stored size, at most the bytes after the digest
//   18+n     32   SHA-256 of the unpacked bytes
//   50+n     ...  stored bytes: one Compression API LZMS buffer
//
// The next entry starts right after the stored bytes; the last one ends
// exactly at the end of the pack.
#include "engine/payload.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/product_info.hpp"
#include "engine/text.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

constexpr unsigned pack_resource_id = 102;
constexpr char pack_magic[4] = {'V', 'P', 'A', 'K'};
constexpr std::uint32_t pack_version = 1;
constexpr std::uint64_t pack_header_size = 12;
constexpr std::uint32_t max_entries = 64;
constexpr std::uint64_t max_name_length = 200;
constexpr std::uint64_t entry_fixed_size = 50;  // everything but the name and stored bytes
constexpr std::uint64_t max_unpacked_size = 0x20000000;

std::uint64_t read_le(const std::uint8_t* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

bool is_name_byte(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == ' ' || c == '-' || c == '.' || c == '_';
}

// The header and entry checks; false for any malformed pack.
bool parse_pack(const std::string& pack, std::vector<PayloadPackEntry>& entries) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(pack.data());
    const std::uint64_t size = pack.size();
    if (size < pack_header_size) return false;
    if (std::memcmp(bytes, pack_magic, sizeof pack_magic) != 0) return false;
    const std::uint64_t count = read_le(bytes + 8, 4);
    if (read_le(bytes + 4, 4) != pack_version || count < 1 || count > max_entries) return false;

    std::uint64_t o = pack_header_size;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (o + 2 > size) return false;
        const std::uint64_t n = read_le(bytes + o, 2);
        if (n < 1 || n > max_name_length) return false;
        if (o + entry_fixed_size + n > size) return false;

        PayloadPackEntry entry;
        const std::uint8_t* name = bytes + o + 2;
        entry.name.assign(reinterpret_cast<const char*>(name), static_cast<std::size_t>(n));
        entry.unpacked_size = read_le(bytes + o + 2 + n, 8);
        entry.stored_size = read_le(bytes + o + 10 + n, 8);
        std::memcpy(entry.sha256.data(), bytes + o + 18 + n, entry.sha256.size());

        if (entry.unpacked_size > max_unpacked_size) return false;
        if (entry.stored_size > size - (o + entry_fixed_size + n)) return false;
        if (!std::all_of(name, name + n, is_name_byte)) return false;

        entry.data = bytes + o + entry_fixed_size + n;
        o += entry_fixed_size + n + entry.stored_size;
        entries.push_back(std::move(entry));
    }
    return o == size;
}

// Decompresses and verifies one entry into `out`.
bool unpack_entry(const PayloadPackEntry& entry, std::vector<std::uint8_t>& out) {
    out.assign(static_cast<std::size_t>(entry.unpacked_size), 0);
    std::size_t written = 0;
    if (entry.unpacked_size > 0 &&
        !platform::os().lzms_decompress(entry.data, static_cast<std::size_t>(entry.stored_size),
                                        out.data(), out.size(), written))
        return false;
    if (written != entry.unpacked_size) return false;
    platform::Sha256Digest digest{};
    if (!platform::os().sha256(out.data(), out.size(), digest)) return false;
    return digest == entry.sha256;
}

bool unpack_payload(const std::vector<PayloadPackEntry>& entries) {
    for (const std::string& name : product_info.payload_names) {
        const auto found = std::find_if(entries.rbegin(), entries.rend(),
                                        [&](const PayloadPackEntry& e) { return e.name == name; });
        if (found == entries.rend()) return false;
        std::vector<std::uint8_t> bytes;
        if (!unpack_entry(*found, bytes)) return false;
        payload_files[name] = std::move(bytes);
    }
    return true;
}

}  // namespace

std::string damaged_installer_message() {
    return std::string("This installer is damaged. Download it again from ") + maker_domain + ".";
}

bool load_payload(std::string& error) {
    if (!payload_files.empty()) return true;

    const std::string pack = load_rcdata_resource(pack_resource_id);
    std::vector<PayloadPackEntry> entries;
    if (parse_pack(pack, entries) && unpack_payload(entries)) return true;

    payload_files.clear();
    error = damaged_installer_message();
    return false;
}

}  // namespace vellumo
