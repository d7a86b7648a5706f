// The System in force and the executable's own path on Linux.
#include "platform/platform.hpp"

#include <unistd.h>

#include <vector>

namespace vellumo::platform {
namespace {

System real_system;
System* current = &real_system;

}  // namespace

System& os() { return *current; }

ScopedSystem::ScopedSystem(System& replacement) : previous_(current) { current = &replacement; }

ScopedSystem::~ScopedSystem() { current = previous_; }

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
