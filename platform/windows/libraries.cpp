// Where the program's DLLs come from. A setup runs from a downloads folder,
// where anyone can drop a DLL beside it: the imports are KnownDLLs only, and
// every other DLL, ours or one that a system DLL loads, comes from System32.
#include "platform/windows/win32.hpp"

namespace vellumo::platform {
namespace {

// Before main and every other static initialiser, so that no load of the
// program's own can search the program's folder.
[[gnu::constructor(101)]] void restrict_library_search() {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

HMODULE system_library(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace vellumo::platform
