#include "view/windows/runtime.hpp"

#include <array>

#include "platform/windows/win32.hpp"

namespace vellumo::view {
namespace {

// Where the Evergreen runtime's stable channel records its folder, under
// HKLM (32-bit view) and HKCU.
constexpr const wchar_t* client_state_key =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
constexpr const wchar_t* client_state_value = L"EBWebView";
constexpr const wchar_t* fixed_version_variable = L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER";
constexpr const wchar_t* client_dll_below = L"EBWebView\\x64\\EmbeddedBrowserWebView.dll";

// The runtime's entry point, as its client DLL exports it: (check for a
// running instance, runtime kind, user data folder, options, handler).
enum class RuntimeKind : int { installed = 0, fixed_version = 1 };
using CreateEnvironmentInternal = HRESULT(STDMETHODCALLTYPE*)(
    bool, RuntimeKind, PCWSTR, IUnknown*,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*);

bool is_absolute(const std::wstring& path) {
    const bool drive = path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool share = path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
    return drive || share;
}

std::optional<RuntimeClient> client_in(std::wstring folder, bool fixed_version) {
    if (!is_absolute(folder)) return std::nullopt;
    if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    RuntimeClient client{folder + client_dll_below, fixed_version};
    const DWORD attributes = GetFileAttributesW(client.dll.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return client;
}

std::optional<std::wstring> registered_folder(HKEY root, REGSAM view) {
    std::array<wchar_t, 1024> value;
    DWORD bytes = sizeof value;
    if (RegGetValueW(root, client_state_key, client_state_value, RRF_RT_REG_SZ | view, nullptr,
                     value.data(), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(value.data());
}

}  // namespace

std::optional<RuntimeClient> find_runtime_client() {
    if (const auto folder = platform::read_environment(fixed_version_variable)) return client_in(*folder, true);
    for (const auto& [root, view] : {std::pair{HKEY_LOCAL_MACHINE, RRF_SUBKEY_WOW6432KEY},
                                     std::pair{HKEY_CURRENT_USER, 0}}) {
        if (const auto folder = registered_folder(root, view))
            if (auto client = client_in(*folder, false)) return client;
    }
    return std::nullopt;
}

HRESULT create_environment(const RuntimeClient& client, const std::wstring& user_data_folder,
                           ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* done) {
    // By its absolute path; its own dependencies from its folder and System32.
    const HMODULE library = LoadLibraryExW(
        client.dll.c_str(), nullptr,
        LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library) return HRESULT_FROM_WIN32(GetLastError());
    const auto create = platform::library_function<CreateEnvironmentInternal>(
        library, "CreateWebViewEnvironmentWithOptionsInternal");
    if (!create) {
        FreeLibrary(library);
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    // The library stays loaded: the environment lives in it.
    return create(true,
                  client.fixed_version ? RuntimeKind::fixed_version : RuntimeKind::installed,
                  user_data_folder.c_str(), nullptr, done);
}

}  // namespace vellumo::view
