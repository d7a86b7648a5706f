// Builds payload packs byte by byte, so that tests can damage any field.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/lzms_container.hpp"

namespace vellumo::test {

inline void put_le(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
}

inline std::string sha256_of(const std::string& bytes) {
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), 32);
}

// A Compression API container holding `raw` in stored chunks (no compressor
// needed): valid for any non-empty input.
inline std::string stored_container(const std::string& raw) {
    namespace fmt = lzms_container;
    std::string out;
    put_le(out, fmt::magic, 4);
    put_le(out, fmt::header_size, 2);
    out += '\0';
    out += static_cast<char>(fmt::algorithm_lzms);
    put_le(out, raw.size(), 8);
    put_le(out, std::min<std::uint64_t>(raw.size(), fmt::max_chunk_size), 4);
    put_le(out, 0, 4);
    out[fmt::crc_offset] =
        static_cast<char>(fmt::header_crc(reinterpret_cast<const std::uint8_t*>(out.data())));
    if (!raw.empty()) {
        put_le(out, raw.size(), 4);
        out += raw;
    }
    return out;
}

struct PackEntry {
    std::string name;
    std::string raw;                   // the unpacked bytes
    std::string stored;                // defaults to stored_container(raw)
    std::string digest;                // defaults to the SHA-256 of raw
    std::uint64_t unpacked_size = ~0ull;  // defaults to raw.size()
    std::uint64_t stored_size = ~0ull;    // defaults to stored.size()
};

inline PackEntry entry(std::string name, std::string raw) {
    PackEntry e;
    e.name = std::move(name);
    e.raw = std::move(raw);
    e.stored = stored_container(e.raw);
    e.digest = sha256_of(e.raw);
    e.unpacked_size = e.raw.size();
    e.stored_size = e.stored.size();
    return e;
}

inline std::string pack_header(std::uint32_t count, std::uint32_t version = 1) {
    std::string out = "VPAK";
    put_le(out, version, 4);
    put_le(out, count, 4);
    return out;
}

inline std::string entry_bytes(const PackEntry& e) {
    std::string out;
    put_le(out, e.name.size(), 2);
    out += e.name;
    put_le(out, e.unpacked_size, 8);
    put_le(out, e.stored_size, 8);
    out += e.digest;
    out += e.stored;
    return out;
}

inline std::string pack_of(const std::vector<PackEntry>& entries) {
    std::string out = pack_header(static_cast<std::uint32_t>(entries.size()));
    for (const auto& e : entries) out += entry_bytes(e);
    return out;
}

// The three product entries with small contents.
inline std::vector<PackEntry> product_entries() {
    return {entry("VellumoCompanion.exe", "MZ companion"), entry("Vellumo.py", "print('v')\n"),
            entry("SETUP.md", "# Setup\n")};
}

}  // namespace vellumo::test
