// The WebView2 lock-down against a view of our own: the settings it turns
// off, the handlers it registers and what they decide.
#include <gtest/gtest.h>

#include <windows.h>

#include <WebView2.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/lockdown.hpp"
#include "platform/platform.hpp"
#include "webview2_stubs.hpp"

namespace vellumo {
namespace {

LPWSTR co_string(const wchar_t* text) {
    if (!text) return nullptr;
    const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    memcpy(copy, text, bytes);
    return copy;
}

class FakeSettings : public StubICoreWebView2Settings {
public:
    std::map<std::string, BOOL> values;
    HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL v) override { return set("devtools", v); }
    HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL v) override {
        return set("context menus", v);
    }
    HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL v) override { return set("status bar", v); }
    HRESULT STDMETHODCALLTYPE put_IsZoomControlEnabled(BOOL v) override { return set("zoom", v); }
    HRESULT STDMETHODCALLTYPE put_AreHostObjectsAllowed(BOOL v) override {
        return set("host objects", v);
    }

private:
    HRESULT set(const char* name, BOOL value) {
        values[name] = value;
        return S_OK;
    }
};

// Holds the registered handlers as the real view does, one reference each.
class FakeWebView : public StubICoreWebView2 {
public:
    FakeSettings* settings = nullptr;  // null: get_Settings fails
    ICoreWebView2NavigationStartingEventHandler* navigation = nullptr;
    ICoreWebView2NavigationStartingEventHandler* frame_navigation = nullptr;
    ICoreWebView2NewWindowRequestedEventHandler* new_window = nullptr;
    ICoreWebView2PermissionRequestedEventHandler* permission = nullptr;
    // What each handler's last Release returned when the view let go.
    std::vector<ULONG>* released = nullptr;

    ~FakeWebView() override {
        for (IUnknown* handler : std::initializer_list<IUnknown*>{navigation, frame_navigation,
                                                                  new_window, permission})
            if (handler && released) released->push_back(handler->Release());
        if (settings) settings->Release();
    }
    HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** out) override {
        if (!settings) return E_FAIL;
        settings->AddRef();
        *out = settings;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_NavigationStarting(
        ICoreWebView2NavigationStartingEventHandler* h, EventRegistrationToken* t) override {
        return keep(navigation, h, t);
    }
    HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(
        ICoreWebView2NavigationStartingEventHandler* h, EventRegistrationToken* t) override {
        return keep(frame_navigation, h, t);
    }
    HRESULT STDMETHODCALLTYPE add_NewWindowRequested(
        ICoreWebView2NewWindowRequestedEventHandler* h, EventRegistrationToken* t) override {
        return keep(new_window, h, t);
    }
    HRESULT STDMETHODCALLTYPE add_PermissionRequested(
        ICoreWebView2PermissionRequestedEventHandler* h, EventRegistrationToken* t) override {
        return keep(permission, h, t);
    }

private:
    template <class Handler>
    HRESULT keep(Handler*& slot, Handler* handler, EventRegistrationToken* token) {
        handler->AddRef();
        slot = handler;
        token->value = 1;
        return S_OK;
    }
};

class FakeController : public StubICoreWebView2Controller {
public:
    FakeWebView* view = nullptr;  // null: no view
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** out) override {
        *out = view;
        if (!view) return E_FAIL;
        view->AddRef();
        return S_OK;
    }
};

class FakeNavigation : public StubICoreWebView2NavigationStartingEventArgs {
public:
    explicit FakeNavigation(const wchar_t* uri) : uri_(uri) {}
    std::optional<BOOL> cancel;
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
        *uri = co_string(uri_);
        return uri_ ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE put_Cancel(BOOL value) override {
        cancel = value;
        return S_OK;
    }

private:
    const wchar_t* uri_;
};

class FakeNewWindow : public StubICoreWebView2NewWindowRequestedEventArgs {
public:
    std::optional<BOOL> handled;
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
        *uri = co_string(L"about:blank");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Handled(BOOL value) override {
        handled = value;
        return S_OK;
    }
};

class FakePermission : public StubICoreWebView2PermissionRequestedEventArgs {
public:
    std::optional<COREWEBVIEW2_PERMISSION_STATE> state;
    HRESULT STDMETHODCALLTYPE put_State(COREWEBVIEW2_PERMISSION_STATE value) override {
        state = value;
        return S_OK;
    }
};

// A locked-down fake view; the fakes free themselves with their last reference.
struct LockedDown {
    std::vector<ULONG> released;
    FakeSettings* settings = new FakeSettings;
    FakeWebView* view = new FakeWebView;
    FakeController* controller = new FakeController;

    explicit LockedDown(bool with_settings = true) {
        if (with_settings)
            view->settings = settings;
        else
            settings->Release();
        view->released = &released;
        controller->view = view;
        lock_down(controller);
    }
    ~LockedDown() {
        controller->Release();
        view->Release();
    }
};

TEST(WebViewLockDown, TurnsTheFiveSettingsOffAndRegistersFourHandlers) {
    LockedDown locked;
    const std::map<std::string, BOOL> off{{"devtools", FALSE},     {"context menus", FALSE},
                                          {"status bar", FALSE},   {"zoom", FALSE},
                                          {"host objects", FALSE}};
    EXPECT_EQ(locked.settings->values, off);
    EXPECT_NE(locked.view->navigation, nullptr);
    EXPECT_NE(locked.view->frame_navigation, nullptr);
    EXPECT_NE(locked.view->new_window, nullptr);
    EXPECT_NE(locked.view->permission, nullptr);
    EXPECT_NE(static_cast<void*>(locked.view->navigation),
              static_cast<void*>(locked.view->frame_navigation));
}

struct NavigationCase {
    const char* name;
    bool frame;
    const wchar_t* uri;
    bool cancelled;
};

TEST(WebViewLockDown, NavigationsGoByTheRuleAndFramesNever) {
    LockedDown locked;
    const NavigationCase cases[] = {
        {"the page", false, L"data:text/html;charset=utf-8;base64,PHA+", false},
        {"blank", false, L"about:blank", false},
        {"web address", false, L"https://example.com/", true},
        {"upper-case blank", false, L"ABOUT:BLANK", true},
        {"missing URI", false, nullptr, true},
        {"frame, blank", true, L"about:blank", true},
        {"frame, inline html", true, L"data:text/html,<p>", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNavigation args(c.uri);
        auto* handler = c.frame ? locked.view->frame_navigation : locked.view->navigation;
        EXPECT_EQ(handler->Invoke(locked.view, &args), S_OK);
        EXPECT_EQ(args.cancel == std::optional<BOOL>(TRUE), c.cancelled);
    }
}

TEST(WebViewLockDown, NewWindowsAreHandledWithoutAWindowAndPermissionsDenied) {
    LockedDown locked;
    FakeNewWindow window;
    locked.view->new_window->Invoke(locked.view, &window);
    EXPECT_EQ(window.handled, std::optional<BOOL>(TRUE));
    FakePermission permission;
    locked.view->permission->Invoke(locked.view, &permission);
    EXPECT_EQ(permission.state, COREWEBVIEW2_PERMISSION_STATE_DENY);
}

TEST(WebViewLockDown, TheViewHoldsTheOnlyReferenceToEachHandler) {
    std::vector<ULONG> released;
    {
        LockedDown locked;
        locked.view->released = &released;
    }
    EXPECT_EQ(released, (std::vector<ULONG>{0, 0, 0, 0}));
}

TEST(WebViewLockDown, WithoutSettingsTheHandlersAreStillAdded) {
    LockedDown locked(false);
    EXPECT_NE(locked.view->navigation, nullptr);
    EXPECT_NE(locked.view->permission, nullptr);
}

TEST(WebViewLockDown, WithoutAViewNothingIsTouched) {
    auto* controller = new FakeController;
    lock_down(controller);
    EXPECT_EQ(controller->Release(), 0u);
}

}  // namespace
}  // namespace vellumo
