// The executable's own path on Linux.
#include "platform/platform.hpp"

#include <unistd.h>

#include <vector>

namespace vellumo::platform {

std::filesystem::path System::executable_path() {
    // readlink does not say whether it truncated: grow until the link fits.
    std::vector<char> buffer(1040);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(n)));
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace vellumo::platform
