// vpak: writes a payload pack from a folder of files.
//
//   vpak OUTPUT FOLDER NAME...
//
// Each NAME is a file of FOLDER; the pack lists them in the order given. The
// pack layout is the one engine/payload.cpp reads:
//
//   "VPAK", u32 version 1, u32 entry count (1 to 64), then per entry:
//   u16 name length (1 to 200), name, u64 unpacked size (at most 0x20000000),
//   u64 stored size, 32-byte SHA-256 of the unpacked bytes, stored bytes
//
// The stored bytes are a Compression API LZMS buffer (layout in
// platform/linux/lzms_container.hpp): chunks of min(total, 64 MiB), each
// compressed by wimlib, or stored verbatim when compression does not shrink
// it. The same input always gives the same bytes.
#include <openssl/evp.h>
#include <wimlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/lzms_container.hpp"

namespace {

namespace fmt = vellumo::lzms_container;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t max_entries = 64;
constexpr std::size_t max_name_length = 200;
constexpr std::uint64_t max_unpacked_size = 0x20000000;

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void put_le(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

bool is_name_byte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == ' ' || c == '-' || c == '.' || c == '_';
}

void check_name(const std::string& name) {
    if (name.empty() || name.size() > max_name_length)
        throw Failure("entry name \"" + name + "\" must be 1 to 200 bytes long");
    if (!std::all_of(name.begin(), name.end(), [](char c) { return is_name_byte(c); }))
        throw Failure("entry name \"" + name +
                      "\" may hold only letters, digits, space, '-', '.' and '_'");
}

Bytes read_file(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) throw Failure(path + " is not a file");
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) throw Failure("cannot read " + path);
    if (size > max_unpacked_size)
        throw Failure(path + " is larger than 512 MiB (" + std::to_string(size) + " bytes)");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure("cannot read " + path);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Failure("cannot read " + path);
    return bytes;
}

Bytes lzms_container(const Bytes& raw) {
    const std::uint64_t total = raw.size();
    const std::uint32_t chunk_size =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(total, fmt::max_chunk_size));

    Bytes out;
    put_le(out, fmt::magic, 4);
    put_le(out, fmt::header_size, 2);
    out.push_back(0);  // CRC byte, filled below
    out.push_back(fmt::algorithm_lzms);
    put_le(out, total, 8);
    put_le(out, chunk_size, 4);
    put_le(out, 0, 4);
    out[fmt::crc_offset] = fmt::header_crc(out.data());
    if (total == 0) return out;

    wimlib_compressor* compressor = nullptr;
    if (wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, chunk_size, 0, &compressor) != 0)
        throw Failure("cannot make an LZMS compressor");
    Bytes packed(chunk_size);
    for (std::uint64_t pos = 0; pos < total; pos += chunk_size) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk_size, total - pos));
        // Only a result shorter than the chunk is kept; 0 means it did not shrink.
        const std::size_t compressed =
            length > 1 ? wimlib_compress(raw.data() + pos, length, packed.data(), length - 1,
                                         compressor)
                       : 0;
        const std::uint8_t* chunk = compressed ? packed.data() : raw.data() + pos;
        const std::size_t stored = compressed ? compressed : length;
        put_le(out, stored, 4);
        out.insert(out.end(), chunk, chunk + stored);
    }
    wimlib_free_compressor(compressor);
    return out;
}

Bytes sha256(const Bytes& bytes) {
    Bytes digest(32);
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
        throw Failure("SHA-256 failed");
    return digest;
}

Bytes make_pack(const std::string& folder, const std::vector<std::string>& names) {
    if (names.empty() || names.size() > max_entries)
        throw Failure("a pack holds 1 to 64 entries, not " + std::to_string(names.size()));
    std::set<std::string> seen;
    for (const std::string& name : names) {
        check_name(name);
        if (!seen.insert(name).second) throw Failure("entry name \"" + name + "\" is repeated");
    }

    Bytes pack{'V', 'P', 'A', 'K'};
    put_le(pack, 1, 4);
    put_le(pack, names.size(), 4);
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        const Bytes raw = read_file(path);
        if (raw.size() > max_unpacked_size) throw Failure(path + " grew while it was read");
        const Bytes stored = lzms_container(raw);
        put_le(pack, name.size(), 2);
        pack.insert(pack.end(), name.begin(), name.end());
        put_le(pack, raw.size(), 8);
        put_le(pack, stored.size(), 8);
        const Bytes digest = sha256(raw);
        pack.insert(pack.end(), digest.begin(), digest.end());
        pack.insert(pack.end(), stored.begin(), stored.end());
    }
    return pack;
}

void write_file(const std::string& path, const Bytes& bytes) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) throw Failure("cannot write " + temporary);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw Failure("cannot write " + path);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: vpak OUTPUT FOLDER NAME...\n";
        return 2;
    }
    try {
        write_file(argv[1], make_pack(argv[2], std::vector<std::string>(argv + 3, argv + argc)));
    } catch (const Failure& failure) {
        std::cerr << "vpak: " << failure.what() << "\n";
        return 1;
    }
    return 0;
}
