// The executable's own path on Windows.
#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

#include <vector>

namespace vellumo::platform {

std::filesystem::path System::executable_path() {
    // A path that fills the buffer may have been cut: grow until it fits, up
    // to the longest path Windows has.
    constexpr DWORD first_size = 1040;
    constexpr DWORD longest = 32768;
    std::vector<wchar_t> buffer(first_size);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (n == 0) return {};
        if (n < size) return std::filesystem::path(std::wstring(buffer.data(), n));
        if (size >= longest) return {};
        buffer.resize(size * 2 > longest ? longest : size * 2);
    }
}

}  // namespace vellumo::platform
