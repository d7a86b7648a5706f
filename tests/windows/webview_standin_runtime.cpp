// A stand-in WebView2 runtime for the window tests: the runtime's client DLL
// (EBWebView\x64\EmbeddedBrowserWebView.dll under the runtime's folder),
// made of fakes of our own. It writes what the program asks of it to the file
// named by VELLUMO_STANDIN_LOG, one "what<TAB>detail" line each, and plays
// the page: once the program has shown its page it raises the lock-down's
// events, then calls the page bindings through web messages:
//   1 setupInfo; on its answer, 2 setupInstall and at once 3 setupWindow
//   "close" (refused while the job runs); on the answer to 2, 4 setupWindow
//   "close", which ends the program.
// Every callback comes later, from a thread timer on the program's loop, as
// the real runtime's do. VELLUMO_STANDIN_FAIL=environment or controller makes
// that creation step fail. While VELLUMO_STANDIN_HOLD names a file that does
// not exist, call 4 waits.
#include <windows.h>

#include <WebView2.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "webview2_stubs.hpp"

namespace {

std::string utf8(const wchar_t* text) {
    if (!text) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring wide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size > 0 ? size - 1 : 0, L'\0');
    if (size > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
    return out;
}

std::string variable(const char* name) {
    char value[1024];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void record(const std::string& what, std::string detail = {}) {
    for (char& c : detail)
        if (c == '\n' || c == '\r') c = ' ';
    if (FILE* log = std::fopen(variable("VELLUMO_STANDIN_LOG").c_str(), "ab")) {
        std::fprintf(log, "%s\t%s\n", what.c_str(), detail.c_str());
        std::fclose(log);
    }
}

LPWSTR co_string(const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    memcpy(copy, text.c_str(), bytes);
    return copy;
}

// Work for later turns of the program's loop, in order.
std::deque<std::function<void()>> later_work;

void CALLBACK run_later(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (later_work.empty()) return;
    auto work = std::move(later_work.front());
    later_work.pop_front();
    work();
}

void later(std::function<void()> work) {
    later_work.push_back(std::move(work));
    SetTimer(nullptr, 0, 10, run_later);
}

// Finishes an asynchronous creation on a later turn, as the runtime does:
// with a new Object, or with E_FAIL when the test names this step in
// VELLUMO_STANDIN_FAIL.
template <class Object, class Handler>
void complete_later(Handler* done, const char* step) {
    done->AddRef();
    later([done, step] {
        if (variable("VELLUMO_STANDIN_FAIL") == step) {
            done->Invoke(E_FAIL, nullptr);
        } else {
            auto* object = new Object;
            done->Invoke(S_OK, object);
            object->Release();
        }
        done->Release();
    });
}

template <class Interface>
Interface* kept(Interface* object) {
    object->AddRef();
    return object;
}

class Settings : public StubICoreWebView2Settings {
    HRESULT set(const char* name, BOOL value) {
        record("setting", std::string(name) + "=" + std::to_string(value));
        return S_OK;
    }

public:
    HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL v) override { return set("devtools", v); }
    HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL v) override {
        return set("context-menus", v);
    }
    HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL v) override {
        return set("status-bar", v);
    }
    HRESULT STDMETHODCALLTYPE put_IsZoomControlEnabled(BOOL v) override { return set("zoom", v); }
    HRESULT STDMETHODCALLTYPE put_AreHostObjectsAllowed(BOOL v) override {
        return set("host-objects", v);
    }
};

class Navigation : public StubICoreWebView2NavigationStartingEventArgs {
public:
    explicit Navigation(std::wstring uri) : uri_(std::move(uri)) {}
    BOOL cancel = FALSE;
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
        *uri = co_string(uri_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Cancel(BOOL value) override {
        cancel = value;
        return S_OK;
    }

private:
    std::wstring uri_;
};

class NewWindow : public StubICoreWebView2NewWindowRequestedEventArgs {
public:
    BOOL handled = FALSE;
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
        *uri = co_string(L"https://example.com/popup");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Handled(BOOL value) override {
        handled = value;
        return S_OK;
    }
};

class Permission : public StubICoreWebView2PermissionRequestedEventArgs {
public:
    int state = COREWEBVIEW2_PERMISSION_STATE_DEFAULT;
    HRESULT STDMETHODCALLTYPE put_State(COREWEBVIEW2_PERMISSION_STATE value) override {
        state = value;
        return S_OK;
    }
};

class WebMessage : public StubICoreWebView2WebMessageReceivedEventArgs {
public:
    explicit WebMessage(std::string json) : json_(std::move(json)) {}
    HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* json) override {
        *json = co_string(wide(json_));
        return S_OK;
    }

private:
    std::string json_;
};

class WebView : public StubICoreWebView2 {
public:
    ICoreWebView2NavigationStartingEventHandler* navigation = nullptr;
    ICoreWebView2NavigationStartingEventHandler* frame_navigation = nullptr;
    ICoreWebView2NewWindowRequestedEventHandler* new_window = nullptr;
    ICoreWebView2PermissionRequestedEventHandler* permission = nullptr;
    ICoreWebView2WebMessageReceivedEventHandler* messages = nullptr;
    bool closed = false;

    HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** out) override {
        *out = kept(&settings_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_NavigationStarting(
        ICoreWebView2NavigationStartingEventHandler* h, EventRegistrationToken* t) override {
        return keep("navigation", navigation, h, t);
    }
    HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(
        ICoreWebView2NavigationStartingEventHandler* h, EventRegistrationToken* t) override {
        return keep("frame-navigation", frame_navigation, h, t);
    }
    HRESULT STDMETHODCALLTYPE add_NewWindowRequested(
        ICoreWebView2NewWindowRequestedEventHandler* h, EventRegistrationToken* t) override {
        return keep("new-window", new_window, h, t);
    }
    HRESULT STDMETHODCALLTYPE add_PermissionRequested(
        ICoreWebView2PermissionRequestedEventHandler* h, EventRegistrationToken* t) override {
        return keep("permission", permission, h, t);
    }
    HRESULT STDMETHODCALLTYPE add_WebMessageReceived(
        ICoreWebView2WebMessageReceivedEventHandler* h, EventRegistrationToken* t) override {
        return keep("web-message", messages, h, t);
    }
    HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken) override {
        if (messages) messages->Release();
        messages = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
        LPCWSTR script, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler*) override {
        record("document-script", utf8(script));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR html) override {
        const std::string page = utf8(html);
        record("page", std::to_string(page.size()) + " bytes");
        if (FILE* out = std::fopen((variable("VELLUMO_STANDIN_LOG") + ".page").c_str(), "wb")) {
            std::fwrite(page.data(), 1, page.size(), out);
            std::fclose(out);
        }
        later([this] { raise_lock_down_events(); });
        later([this] { call("1", "setupInfo", "[]"); });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ExecuteScript(
        LPCWSTR script, ICoreWebView2ExecuteScriptCompletedHandler*) override {
        const std::string text = utf8(script);
        record("script", text);
        answered(text);
        return S_OK;
    }

private:
    Settings settings_;

    template <class Handler>
    HRESULT keep(const char* what, Handler*& slot, Handler* handler, EventRegistrationToken* t) {
        record("handler", what);
        if (slot) slot->Release();
        slot = kept(handler);
        t->value = 1;
        return S_OK;
    }

    void navigate(const char* what, ICoreWebView2NavigationStartingEventHandler* handler,
                  const std::wstring& uri) {
        Navigation args(uri);
        if (handler) handler->Invoke(this, &args);
        record(what, utf8(uri.c_str()) + " cancel=" + std::to_string(args.cancel));
    }

    void raise_lock_down_events() {
        navigate("navigation", navigation, L"data:text/html;charset=utf-8;base64,PHA+");
        navigate("navigation", navigation, L"https://example.com/");
        navigate("frame-navigation", frame_navigation, L"about:blank");
        NewWindow window;
        if (new_window) new_window->Invoke(this, &window);
        record("new-window", "handled=" + std::to_string(window.handled));
        Permission camera;
        if (permission) permission->Invoke(this, &camera);
        record("permission", "state=" + std::to_string(camera.state));
    }

    // The page calls a bound function: [name, id, JSON text of the arguments].
    void call(const std::string& id, const std::string& name, const std::string& args) {
        record("call", id + " " + name + " " + args);
        WebMessage message(nlohmann::json::array({name, id, args}).dump());
        if (messages) messages->Invoke(this, &message);
    }

    // An answer of the program: window.__vellumo&&window.__vellumo.reply(id, status, result).
    void answered(const std::string& script) {
        const std::string head = "window.__vellumo&&window.__vellumo.reply(";
        if (script.rfind(head, 0) != 0 || script.back() != ')') return;
        const auto reply = nlohmann::json::parse(
            "[" + script.substr(head.size(), script.size() - head.size() - 1) + "]", nullptr,
            false);
        if (!reply.is_array() || reply.size() != 3 || !reply[0].is_string()) return;
        const std::string id = reply[0].get<std::string>();
        record("reply", id + " " + reply[1].dump() + " " + reply[2].get<std::string>());
        if (id == "1") {
            later([this] {
                call("2", "setupInstall", "[{}]");
                call("3", "setupWindow", "[\"close\"]");
            });
        } else if (id == "2") {
            later([this] { close_when_released(); });
        }
    }

    void close_when_released() {
        const std::string hold = variable("VELLUMO_STANDIN_HOLD");
        if (!hold.empty() && GetFileAttributesW(wide(hold).c_str()) == INVALID_FILE_ATTRIBUTES)
            return later([this] { close_when_released(); });
        call("4", "setupWindow", "[\"close\"]");
    }
};

class Controller : public StubICoreWebView2Controller {
public:
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** out) override {
        *out = kept(view_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
        record("bounds", std::to_string(bounds.right - bounds.left) + "x" +
                             std::to_string(bounds.bottom - bounds.top));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        record("close");
        return S_OK;
    }
    ~Controller() override { view_->Release(); }

private:
    WebView* view_ = new WebView;
};

class Environment : public StubICoreWebView2Environment {
public:
    HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
        HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* done) override {
        char name[256] = "";
        GetClassNameA(parent, name, sizeof name);
        record("controller", std::string("parent class ") + name);
        complete_later<Controller>(done, "controller");
        return S_OK;
    }
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    bool check_running_instance, int runtime_kind, PCWSTR user_data_folder, IUnknown*,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* done) {
    const DWORD attributes = GetFileAttributesW(user_data_folder);
    record("environment", "kind=" + std::to_string(runtime_kind) + " check=" +
                              std::to_string(check_running_instance) + " user-data=" +
                              utf8(user_data_folder) + " exists=" +
                              std::to_string(attributes != INVALID_FILE_ATTRIBUTES &&
                                             (attributes & FILE_ATTRIBUTE_DIRECTORY)));
    complete_later<Environment>(done, "environment");
    return S_OK;
}
