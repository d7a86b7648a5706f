// Raw-data resources of the executable (windres, cmake/embed.cmake), looked
// up by integer id.
#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

namespace vellumo::platform {

std::string System::rcdata_resource(unsigned id) {
    // An integer resource name is 16 bits: a larger id would name another.
    if (id == 0 || id > 0xFFFF) return {};
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return {};
    return std::string(static_cast<const char*>(data), SizeofResource(nullptr, found));
}

}  // namespace vellumo::platform
