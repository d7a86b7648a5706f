// The Compression API's LZMS container as the Linux reader parses it. The
// first input byte picks the size of the caller's buffer, so both the "too
// small" path and full decodes are reached.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.hpp"
#include "platform/linux/lzms_container.hpp"
#include "platform/platform.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellumo;
    if (size < 1) return 0;
    const std::size_t capacity = std::size_t{data[0]} << 12;  // up to about 1 MiB
    ++data, --size;

    std::vector<std::uint8_t> out(capacity);
    std::size_t written = 12345;
    const bool decoded = platform::os().lzms_decompress(data, size, out.data(), out.size(), written);
    if (decoded) {
        fuzz::require(size >= lzms_container::header_size, "a decoded buffer has a header");
        fuzz::require(written == lzms_container::get_u64(data + 8),
                      "a decode gives the header's total");
        fuzz::require(written <= capacity, "a decode stays in the caller's buffer");
    } else {
        fuzz::require(written == 0, "a failed decode reports nothing written");
    }
    return 0;
}
