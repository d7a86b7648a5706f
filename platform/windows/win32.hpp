// What the Windows files of the seam share: <windows.h>, the crossings
// between the seam's UTF-16 text and Win32's wchar_t, and the loading of the
// DLLs that are not KnownDLLs.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace vellumo::platform {

// wchar_t is UTF-16 here, so the units cross unchanged; the copy ends in the
// terminator that Win32 wants.
inline std::wstring wide_string(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

inline std::u16string utf16_string(std::wstring_view text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// The value of environment variable `name` (GetEnvironmentVariableW); nullopt
// when it is not set.
std::optional<std::wstring> read_environment(const wchar_t* name);

// A DLL that is not a KnownDLL, loaded from System32 and nowhere else
// (LoadLibraryExW with LOAD_LIBRARY_SEARCH_SYSTEM32): a copy planted beside
// the program is never loaded. Null when it cannot be loaded.
HMODULE system_library(const wchar_t* name);

// The address of `function` in `module` as a `Function`; null when
// the module or the function is missing.
template <typename Function>
Function library_function(HMODULE module, const char* function) {
    if (!module) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, function)));
}

}  // namespace vellumo::platform
