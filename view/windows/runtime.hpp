// Finds the installed WebView2 runtime the way the SDK's loader does and
// creates a browser environment through the runtime's own client DLL, so the
// program needs no loader DLL beside it. The Windows view engine uses it.
#pragma once

#include <windows.h>

#include <WebView2.h>

#include <optional>
#include <string>

namespace vellumo::view {

// The runtime's client DLL: an absolute path, and whether the runtime is a
// fixed-version one named by WEBVIEW2_BROWSER_EXECUTABLE_FOLDER rather than
// the installed Evergreen runtime.
struct RuntimeClient {
    std::wstring dll;
    bool fixed_version = false;
};

// WEBVIEW2_BROWSER_EXECUTABLE_FOLDER when it is set (an absolute folder),
// else the Evergreen runtime registered per machine, else per user. Nothing
// when none is there or its client DLL is missing.
std::optional<RuntimeClient> find_runtime_client();

// Loads the client DLL from its absolute path and starts creating an
// environment with `user_data_folder`; `done` is called when that finishes.
// A failed HRESULT when the DLL or its entry point cannot be had.
HRESULT create_environment(const RuntimeClient& client, const std::wstring& user_data_folder,
                           ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* done);

}  // namespace vellumo::view
