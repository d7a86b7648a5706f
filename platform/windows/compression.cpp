// LZMS decompression through the Windows Compression API of cabinet.dll,
// which is not a KnownDLL: it is loaded from System32 at run time.
#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

#include <compressapi.h>

namespace vellumo::platform {
namespace {

struct CompressionApi {
    decltype(&CreateDecompressor) create = nullptr;
    decltype(&Decompress) decompress = nullptr;
    decltype(&CloseDecompressor) close = nullptr;
};

// Loaded once; the DLL stays for the life of the process.
const CompressionApi& compression_api() {
    static const CompressionApi api = [] {
        const HMODULE cabinet = system_library(L"cabinet.dll");
        CompressionApi found;
        found.create = library_function<decltype(&CreateDecompressor)>(cabinet, "CreateDecompressor");
        found.decompress = library_function<decltype(&Decompress)>(cabinet, "Decompress");
        found.close = library_function<decltype(&CloseDecompressor)>(cabinet, "CloseDecompressor");
        return found;
    }();
    return api;
}

}  // namespace

bool System::lzms_decompress(const std::uint8_t* in, std::size_t in_size, std::uint8_t* out,
                             std::size_t out_size, std::size_t& written) {
    written = 0;
    const CompressionApi& api = compression_api();
    if (!api.create || !api.decompress || !api.close) return false;

    DECOMPRESSOR_HANDLE decompressor = nullptr;
    if (!api.create(COMPRESS_ALGORITHM_LZMS, nullptr, &decompressor)) return false;
    SIZE_T produced = 0;
    const bool decompressed = api.decompress(
        decompressor, const_cast<std::uint8_t*>(in), in_size, out, out_size, &produced);  // MinGW: PVOID
    api.close(decompressor);
    if (!decompressed) return false;
    written = produced;
    return true;
}

}  // namespace vellumo::platform
