// A stand-in for cabinet.dll's decompressor, for tests under Wine only: Wine's
// cabinet.dll has no Compression API. It reads the LZMS buffer format (the
// container header, then chunks) and copies stored chunks; a chunk that is
// really compressed fails with ERROR_NOT_SUPPORTED, so a test that hands it one
// sees a failure and never wrong bytes. Installed as system32\cabinet.dll in
// the test prefix and preferred with WINEDLLOVERRIDES=cabinet=n.
#include <windows.h>
#include <compressapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// winerror.h of Windows; MinGW's lacks it.
constexpr DWORD ERROR_BAD_COMPRESSION_BUFFER = 605;
constexpr std::uint32_t container_magic = 0xC0E5510A;
constexpr std::size_t header_size = 24;
// Any non-null value will do: the stand-in keeps no state per decompressor.
const auto the_handle = reinterpret_cast<DECOMPRESSOR_HANDLE>(std::uintptr_t{0x1A5});

std::uint32_t read_u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint64_t read_u64(const std::uint8_t* p) {
    return std::uint64_t(read_u32(p)) | std::uint64_t(read_u32(p + 4)) << 32;
}

// zlib's CRC-32.
std::uint32_t crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

BOOL fail(DWORD error, const char* why) {
    std::fprintf(stderr, "test cabinet.dll: %s\n", why);
    SetLastError(error);
    return FALSE;
}

}  // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI CreateDecompressor(DWORD algorithm,
                                                     PCOMPRESS_ALLOCATION_ROUTINES,
                                                     PDECOMPRESSOR_HANDLE handle) {
    if (handle == nullptr) return fail(ERROR_INVALID_PARAMETER, "no handle out-parameter");
    if (algorithm != COMPRESS_ALGORITHM_LZMS)
        return fail(ERROR_NOT_SUPPORTED, "only the LZMS algorithm is known");
    *handle = the_handle;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI Decompress(DECOMPRESSOR_HANDLE handle, PVOID compressed,
                                             SIZE_T compressed_size, PVOID uncompressed,
                                             SIZE_T uncompressed_capacity, PSIZE_T written) {
    if (handle != the_handle) return fail(ERROR_INVALID_HANDLE, "not a decompressor handle");
    if (written != nullptr) *written = 0;
    const auto* in = static_cast<const std::uint8_t*>(compressed);
    if (in == nullptr || compressed_size < header_size || read_u32(in) != container_magic ||
        in[4] != header_size || in[5] != 0 || in[7] != COMPRESS_ALGORITHM_LZMS)
        return fail(ERROR_BAD_COMPRESSION_BUFFER, "not an LZMS container");
    std::uint8_t crc_input[header_size - 1];
    std::memcpy(crc_input, in, 6);
    std::memcpy(crc_input + 6, in + 7, header_size - 7);
    if ((crc32(0, crc_input, sizeof crc_input) & 0xFF) != in[6])
        return fail(ERROR_BAD_COMPRESSION_BUFFER, "container header checksum differs");

    const std::uint64_t total = read_u64(in + 8);
    const std::uint32_t chunk_size = read_u32(in + 16);
    if (written != nullptr) *written = total;
    if (uncompressed_capacity < total) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (total > 0 && chunk_size == 0) return fail(ERROR_BAD_COMPRESSION_BUFFER, "chunk size 0");

    auto* out = static_cast<std::uint8_t*>(uncompressed);
    std::size_t at = header_size;
    std::uint64_t done = 0;
    while (done < total) {
        const std::uint64_t expected = total - done < chunk_size ? total - done : chunk_size;
        if (compressed_size - at < 4) return fail(ERROR_BAD_COMPRESSION_BUFFER, "chunk cut short");
        const std::uint32_t stored = read_u32(in + at);
        at += 4;
        if (stored > compressed_size - at) return fail(ERROR_BAD_COMPRESSION_BUFFER, "chunk cut short");
        if (stored > expected) return fail(ERROR_BAD_COMPRESSION_BUFFER, "chunk larger than its data");
        if (stored < expected)
            return fail(ERROR_NOT_SUPPORTED,
                        "a compressed LZMS chunk: this stand-in copies stored chunks only");
        std::memcpy(out + done, in + at, stored);
        at += stored;
        done += stored;
    }
    if (at != compressed_size) return fail(ERROR_BAD_COMPRESSION_BUFFER, "bytes after the last chunk");
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI CloseDecompressor(DECOMPRESSOR_HANDLE handle) {
    if (handle != the_handle) return fail(ERROR_INVALID_HANDLE, "not a decompressor handle");
    return TRUE;
}

}  // extern "C"
