// LZMS decompression of one Compression API buffer (layout in
// lzms_container.hpp): the container is parsed here, each compressed chunk is
// decoded by wimlib. Anything malformed fails the whole call.
#include "platform/linux/lzms_container.hpp"
#include "platform/platform.hpp"

#include <wimlib.h>

#include <cstring>
#include <memory>

namespace vellumo::platform {
namespace {

struct DecompressorDeleter {
    void operator()(wimlib_decompressor* d) const { wimlib_free_decompressor(d); }
};

}  // namespace

bool System::lzms_decompress(const std::uint8_t* in, std::size_t in_size, std::uint8_t* out,
                             std::size_t out_size, std::size_t& written) {
    namespace fmt = lzms_container;
    written = 0;
    if (in_size < fmt::header_size) return false;
    if (fmt::get_u32(in) != fmt::magic || fmt::get_u16(in + 4) != fmt::header_size ||
        in[fmt::crc_offset] != fmt::header_crc(in) || in[7] != fmt::algorithm_lzms ||
        fmt::get_u32(in + 20) != 0)
        return false;

    const std::uint64_t total = fmt::get_u64(in + 8);
    const std::uint32_t chunk_size = fmt::get_u32(in + 16);
    if (total > out_size) return false;  // the caller's buffer is too small
    if (total == 0) return in_size == fmt::header_size;
    if (chunk_size == 0 || chunk_size > fmt::max_chunk_size) return false;

    wimlib_decompressor* raw = nullptr;
    if (wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, chunk_size, &raw) != 0)
        return false;
    const std::unique_ptr<wimlib_decompressor, DecompressorDeleter> decompressor(raw);

    std::size_t pos = fmt::header_size;
    std::uint64_t produced = 0;
    while (produced < total) {
        const std::size_t chunk_raw = static_cast<std::size_t>(
            total - produced < chunk_size ? total - produced : chunk_size);
        if (in_size - pos < fmt::chunk_prefix_size) return false;
        const std::size_t stored = fmt::get_u32(in + pos);
        pos += fmt::chunk_prefix_size;
        if (stored == 0 || stored > chunk_raw || in_size - pos < stored) return false;
        if (stored == chunk_raw) {
            std::memcpy(out + produced, in + pos, stored);
        } else if (wimlib_decompress(in + pos, stored, out + produced, chunk_raw,
                                     decompressor.get()) != 0) {
            return false;
        }
        pos += stored;
        produced += chunk_raw;
    }
    if (pos != in_size) return false;  // bytes after the last chunk
    written = static_cast<std::size_t>(total);
    return true;
}

}  // namespace vellumo::platform
