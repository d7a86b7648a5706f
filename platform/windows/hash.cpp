// SHA-256 through BCryptHash of bcrypt.dll, which is not a KnownDLL: it is
// loaded from System32 at run time.
#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

#include <bcrypt.h>

namespace vellumo::platform {
namespace {

// BCRYPT_SHA256_ALG_HANDLE, the documented pseudo-handle that MinGW's
// headers do not name.
const BCRYPT_ALG_HANDLE sha256_algorithm = reinterpret_cast<BCRYPT_ALG_HANDLE>(0x41);

using HashFunction = decltype(&BCryptHash);

HashFunction hash_function() {
    static const HashFunction function =
        library_function<HashFunction>(system_library(L"bcrypt.dll"), "BCryptHash");
    return function;
}

}  // namespace

bool System::sha256(const std::uint8_t* data, std::size_t size, Sha256Digest& digest) {
    const HashFunction hash = hash_function();
    if (!hash || size > 0xFFFFFFFFu) return false;  // the call counts in 32 bits
    UCHAR nothing = 0;  // empty input still needs a pointer
    auto* input = data ? const_cast<PUCHAR>(data) : &nothing;
    return hash(sha256_algorithm, nullptr, 0, input, static_cast<ULONG>(size), digest.data(),
                static_cast<ULONG>(digest.size())) == 0;
}

}  // namespace vellumo::platform
