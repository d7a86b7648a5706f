// The lock-down of the WebKitGTK view: the stand-in for the WebView2 settings
// and event handlers. WebKitGTK has no status bar and no host objects, so
// there is nothing of theirs to turn off.
#include "platform/platform.hpp"

#include <webkit2/webkit2.h>

namespace vellumo::platform {
namespace {

// decide-policy does not say whether a navigation is a frame's, and a
// web-process extension would have to travel beside the one executable. So
// every frame stops its own document before any of it is parsed; the top
// document is untouched.
constexpr const char* frame_guard_script = "if (window !== window.top) window.stop();";

WebRequestRule rule_of(gpointer data) { return *static_cast<WebRequestRule*>(data); }

void go_by(WebKitPolicyDecision* decision, bool allowed) {
    if (allowed)
        webkit_policy_decision_use(decision);
    else
        webkit_policy_decision_ignore(decision);
}

gboolean on_decide_policy(WebKitWebView*, WebKitPolicyDecision* decision,
                          WebKitPolicyDecisionType type, gpointer data) {
    WebRequest request;
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: request = WebRequest::navigation; break;
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: request = WebRequest::new_window; break;
    default: return FALSE;  // responses: WebKit's own handling
    }
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    go_by(decision, rule_of(data)(request, uri ? uri : ""));
    return TRUE;
}

// A new view would need a window of its own: there is none to give.
GtkWidget* on_create(WebKitWebView*, WebKitNavigationAction*, gpointer) { return nullptr; }

gboolean on_permission_request(WebKitWebView*, WebKitPermissionRequest* request, gpointer data) {
    if (rule_of(data)(WebRequest::permission, {}))
        webkit_permission_request_allow(request);
    else
        webkit_permission_request_deny(request);
    return TRUE;
}

gboolean on_context_menu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                         gpointer) {
    return TRUE;  // handled: no menu
}

void on_zoom_changed(WebKitWebView* view, GParamSpec*, gpointer) {
    if (webkit_web_view_get_zoom_level(view) != 1.0) webkit_web_view_set_zoom_level(view, 1.0);
}

}  // namespace

void System::lock_down_web_view(void* handle, WebRequestRule allowed) {
    WebKitWebView* view = WEBKIT_WEB_VIEW(handle);

    webkit_settings_set_enable_developer_extras(webkit_web_view_get_settings(view), FALSE);
    g_signal_connect(view, "context-menu", G_CALLBACK(on_context_menu), nullptr);
    webkit_web_view_set_zoom_level(view, 1.0);
    g_signal_connect(view, "notify::zoom-level", G_CALLBACK(on_zoom_changed), nullptr);

    auto* rule = new WebRequestRule(allowed);
    g_object_set_data_full(G_OBJECT(view), "vellumo-web-request-rule", rule,
                           [](gpointer p) { delete static_cast<WebRequestRule*>(p); });
    g_signal_connect(view, "decide-policy", G_CALLBACK(on_decide_policy), rule);
    g_signal_connect(view, "create", G_CALLBACK(on_create), nullptr);
    g_signal_connect(view, "permission-request", G_CALLBACK(on_permission_request), rule);

    WebKitUserScript* guard = webkit_user_script_new(
        frame_guard_script, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view), guard);
    webkit_user_script_unref(guard);
}

}  // namespace vellumo::platform
