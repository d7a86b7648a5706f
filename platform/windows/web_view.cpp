// The lock-down of the WebView2 view: five settings off and four event
// handlers that put every request to the rule.
#include "platform/windows/web_view.hpp"

#include <windows.h>

#include <WebView2.h>

#include <string_view>

#include "platform/platform.hpp"
#include "platform/windows/callback.hpp"

namespace vellumo::platform {
namespace {

// Whether the rule lets a navigation to the event's URI go on.
template <class Args>
bool navigation_allowed(Args* args, WebRequest request, WebRequestRule allowed) {
    LPWSTR uri = nullptr;
    args->get_Uri(&uri);  // no string counts as an empty URI
    const std::string text = web_view_uri_text(uri);
    CoTaskMemFree(uri);
    return allowed(request, text);
}

}  // namespace

std::string web_view_uri_text(const wchar_t* uri) {
    if (!uri) return {};
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(uri)));
}

void System::lock_down_web_view(void* handle, WebRequestRule allowed) {
    auto* controller = static_cast<ICoreWebView2Controller*>(handle);
    ComPtr<ICoreWebView2> web_view;
    if (FAILED(controller->get_CoreWebView2(web_view.put())) || !web_view) return;

    ComPtr<ICoreWebView2Settings> settings;
    if (SUCCEEDED(web_view->get_Settings(settings.put())) && settings) {
        settings->put_AreDevToolsEnabled(FALSE);
        settings->put_AreDefaultContextMenusEnabled(FALSE);
        settings->put_IsStatusBarEnabled(FALSE);
        settings->put_IsZoomControlEnabled(FALSE);
        settings->put_AreHostObjectsAllowed(FALSE);
    }

    using Navigation = ICoreWebView2NavigationStartingEventHandler;
    using NavigationArgs = ICoreWebView2NavigationStartingEventArgs*;
    using NewWindowArgs = ICoreWebView2NewWindowRequestedEventArgs*;
    using PermissionArgs = ICoreWebView2PermissionRequestedEventArgs*;
    EventRegistrationToken token;  // handlers stay for the view's life
    ComPtr<Navigation> on_navigation(make_callback<Navigation, ICoreWebView2*, NavigationArgs>(
        [allowed](ICoreWebView2*, NavigationArgs args) {
            if (!navigation_allowed(args, WebRequest::navigation, allowed)) args->put_Cancel(TRUE);
        }));
    web_view->add_NavigationStarting(on_navigation.get(), &token);
    ComPtr<Navigation> on_frame(make_callback<Navigation, ICoreWebView2*, NavigationArgs>(
        [allowed](ICoreWebView2*, NavigationArgs args) {
            if (!navigation_allowed(args, WebRequest::frame_navigation, allowed))
                args->put_Cancel(TRUE);
        }));
    web_view->add_FrameNavigationStarting(on_frame.get(), &token);
    ComPtr<ICoreWebView2NewWindowRequestedEventHandler> on_new_window(
        make_callback<ICoreWebView2NewWindowRequestedEventHandler, ICoreWebView2*, NewWindowArgs>(
            [allowed](ICoreWebView2*, NewWindowArgs args) {
                // Handled without a window given: nothing opens.
                if (!navigation_allowed(args, WebRequest::new_window, allowed))
                    args->put_Handled(TRUE);
            }));
    web_view->add_NewWindowRequested(on_new_window.get(), &token);
    ComPtr<ICoreWebView2PermissionRequestedEventHandler> on_permission(
        make_callback<ICoreWebView2PermissionRequestedEventHandler, ICoreWebView2*,
                      PermissionArgs>([allowed](ICoreWebView2*, PermissionArgs args) {
            if (!allowed(WebRequest::permission, {}))
                args->put_State(COREWEBVIEW2_PERMISSION_STATE_DENY);
        }));
    web_view->add_PermissionRequested(on_permission.get(), &token);
}

}  // namespace vellumo::platform
