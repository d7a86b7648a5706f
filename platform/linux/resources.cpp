// Raw-data resources on Linux: the bytes that cmake/embed.cmake links into the
// executable, looked up by id.
#include "platform/platform.hpp"

extern "C" {
extern const char vellumo_resource_101_begin[];
extern const char vellumo_resource_101_end[];
extern const char vellumo_resource_102_begin[];
extern const char vellumo_resource_102_end[];
}

namespace vellumo::platform {

std::string System::rcdata_resource(unsigned id) {
    switch (id) {
    case 101: return std::string(vellumo_resource_101_begin, vellumo_resource_101_end);
    case 102: return std::string(vellumo_resource_102_begin, vellumo_resource_102_end);
    default: return {};
    }
}

}  // namespace vellumo::platform
