// The Windows Compression API's buffer format for LZMS, shared by the reader
// (compression.cpp) and the producer (tools/vpak). All integers little-endian.
// Linux and the host tool only: on Windows cabinet.dll reads the format.
//
//   offset  size  field
//   0       4     magic 0xC0E5510A (bytes 0A 51 E5 C0)
//   4       2     header size, 24; the first chunk starts there
//   6       1     low byte of the CRC-32 of header bytes 0..5 then 7..23
//   7       1     algorithm, 5 for LZMS
//   8       8     total uncompressed size
//   16      4     chunk size: min(total, 64 MiB)
//   20      4     flags, 0
//   24            chunks: u32 stored size, then that many bytes
//
// Every chunk but the last holds chunk-size uncompressed bytes; the last holds
// the rest. A chunk whose stored size equals its uncompressed size is stored
// verbatim; any other is one independent LZMS stream. A total of 0 has no
// chunks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vellumo::lzms_container {

constexpr std::uint32_t magic = 0xC0E5510A;
constexpr std::size_t header_size = 24;
constexpr std::uint8_t algorithm_lzms = 5;
constexpr std::uint32_t max_chunk_size = 64u << 20;
constexpr std::size_t chunk_prefix_size = 4;

constexpr std::size_t crc_offset = 6;

inline std::uint16_t get_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t get_u64(const std::uint8_t* p) {
    return get_u32(p) | static_cast<std::uint64_t>(get_u32(p + 4)) << 32;
}

// zlib's CRC-32 (reflected, polynomial 0xEDB88320) over the header without
// its CRC byte; the header keeps the low byte.
inline std::uint8_t header_crc(const std::uint8_t* header) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < header_size; ++i) {
        if (i == crc_offset) continue;
        crc ^= header[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
    }
    return static_cast<std::uint8_t>(~crc & 0xFF);
}

}  // namespace vellumo::lzms_container
