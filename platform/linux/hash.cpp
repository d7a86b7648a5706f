// SHA-256 through OpenSSL's EVP interface.
#include "platform/platform.hpp"

#include <openssl/evp.h>

namespace vellumo::platform {

bool System::sha256(const std::uint8_t* data, std::size_t size, Sha256Digest& digest) {
    unsigned int length = 0;
    return EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr) == 1 &&
           length == digest.size();
}

}  // namespace vellumo::platform
