// A stand-in WebView2 runtime for the window tests: the runtime's client DLL
// (EBWebView\x64\EmbeddedBrowserWebView.dll under the runtime's folder),
// made of fakes of our own. It writes what the program asks of it to the file
// named by VELLUMO_STANDIN_LOG, one "what<TAB>detail" line each, and plays
// the page: once the program has shown its page it raises the lock-down's
// events, then calls the page bindings through web messages:
//   1 setupInfo and at once 5 setupWindow "minimize"; on the answer to 1,
//   2 setupInstall and at once 3 setupWindow "close" (refused while the job
//   runs); on the answer to 2, 4 setupWindow "close", which ends the program.
// Every callback comes later, from a thread timer on the program's loop, as
// the real runtime's do; a document script is added only some turns after
// the call. VELLUMO_STANDIN_FAIL=environment or controller makes that
// creation step fail, =script the second document script, and =silent
// leaves the environment unanswered. While VELLUMO_STANDIN_HOLD names a file
// that does not exist, call 4 waits.
//
// It holds the program to the runtime's documented rules and logs a
// "violation" line for each break: a page shown before its document scripts
// were added, a message loop run inside a handler's Invoke, and a page
// binding run inside WebMessageReceived (the program calls into the view or
// acts on its window there).
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

// The handler that the runtime has called and that has not returned yet.
const char* current_handler = nullptr;
constexpr const char* web_message_handler = "WebMessageReceived";

// Around every Invoke of a handler of the program's.
class InHandler {
public:
    explicit InHandler(const char* name) : outer_(current_handler) { current_handler = name; }
    ~InHandler() { current_handler = outer_; }
    InHandler(const InHandler&) = delete;
    InHandler& operator=(const InHandler&) = delete;

private:
    const char* outer_;
};

// The program calls into the view: inside WebMessageReceived only a page
// binding does (its answer, or its work on the window).
void calls_view(const char* call) {
    if (current_handler == web_message_handler)
        record("violation", std::string("binding inside WebMessageReceived: ") + call);
}

// A message taken from the queue inside a handler: a message loop runs there.
LRESULT CALLBACK on_get_message(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HC_ACTION && current_handler)
        record("violation", std::string("message loop inside ") + current_handler);
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// A message sent to a window inside WebMessageReceived: a binding acts on it.
LRESULT CALLBACK on_send_message(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HC_ACTION) {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lparam);
        calls_view(("window message " + std::to_string(sent->message)).c_str());
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// On the program's thread, for as long as it runs.
void watch_handlers() {
    static bool watching = false;
    if (watching) return;
    watching = true;
    SetWindowsHookExW(WH_GETMESSAGE, on_get_message, nullptr, GetCurrentThreadId());
    SetWindowsHookExW(WH_CALLWNDPROC, on_send_message, nullptr, GetCurrentThreadId());
}

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

// `work` after `turns` turns of later work, each behind what was queued before.
void later_by(int turns, std::function<void()> work) {
    if (turns <= 1) return later(std::move(work));
    later([turns, work = std::move(work)]() mutable { later_by(turns - 1, std::move(work)); });
}

bool failing(const char* step) { return variable("VELLUMO_STANDIN_FAIL") == step; }

// Finishes an asynchronous creation on a later turn, as the runtime does:
// with a new Object made of `made_with`, or with E_FAIL when the test names
// this step in VELLUMO_STANDIN_FAIL.
template <class Object, class Handler, class... Arguments>
void complete_later(Handler* done, const char* step, Arguments... made_with) {
    done->AddRef();
    later([done, step, made_with...] {
        const InHandler inside(step);
        if (failing(step)) {
            done->Invoke(E_FAIL, nullptr);
        } else {
            auto* object = new Object(made_with...);
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
    bool page_shown = false;

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
        LPCWSTR script,
        ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* done) override {
        calls_view("AddScriptToExecuteOnDocumentCreated");
        record("document-script", utf8(script));
        const int number = ++scripts_added_;
        ++scripts_pending_;
        if (done) done->AddRef();
        later_by(script_turns, [this, done, number] {
            --scripts_pending_;
            const bool fails = number == 2 && failing("script");
            record("script-added", std::to_string(number) + (fails ? " failed" : " ok"));
            if (!done) return;
            const InHandler inside("AddScriptToExecuteOnDocumentCreatedCompleted");
            done->Invoke(fails ? E_FAIL : S_OK, fails ? nullptr : L"script");
            done->Release();
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR html) override {
        calls_view("NavigateToString");
        const std::string page = utf8(html);
        if (scripts_pending_ > 0) record("violation", "page shown before its document scripts were added");
        record("page", std::to_string(page.size()) + " bytes");
        page_shown = true;
        if (FILE* out = std::fopen((variable("VELLUMO_STANDIN_LOG") + ".page").c_str(), "wb")) {
            std::fwrite(page.data(), 1, page.size(), out);
            std::fclose(out);
        }
        later([this] { raise_lock_down_events(); });
        later([this] {
            call("1", "setupInfo", "[]");
            call("5", "setupWindow", "[\"minimize\"]");
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ExecuteScript(
        LPCWSTR script, ICoreWebView2ExecuteScriptCompletedHandler*) override {
        calls_view("ExecuteScript");
        const std::string text = utf8(script);
        record("script", text);
        answered(text);
        return S_OK;
    }

private:
    // How many turns of the program's loop a document script takes.
    static constexpr int script_turns = 3;
    Settings settings_;
    int scripts_added_ = 0;
    int scripts_pending_ = 0;

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
        const InHandler inside(what);
        if (handler) handler->Invoke(this, &args);
        record(what, utf8(uri.c_str()) + " cancel=" + std::to_string(args.cancel));
    }

    void raise_lock_down_events() {
        navigate("navigation", navigation, L"data:text/html;charset=utf-8;base64,PHA+");
        navigate("navigation", navigation, L"https://example.com/");
        navigate("frame-navigation", frame_navigation, L"about:blank");
        NewWindow window;
        if (new_window) {
            const InHandler inside("NewWindowRequested");
            new_window->Invoke(this, &window);
        }
        record("new-window", "handled=" + std::to_string(window.handled));
        Permission camera;
        if (permission) {
            const InHandler inside("PermissionRequested");
            permission->Invoke(this, &camera);
        }
        record("permission", "state=" + std::to_string(camera.state));
    }

    // The page calls a bound function: [name, id, JSON text of the arguments].
    void call(const std::string& id, const std::string& name, const std::string& args) {
        record("call", id + " " + name + " " + args);
        WebMessage message(nlohmann::json::array({name, id, args}).dump());
        const InHandler inside(web_message_handler);
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
    explicit Controller(HWND parent) : parent_(parent) {}
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** out) override {
        *out = kept(view_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON reason) override {
        calls_view("MoveFocus");
        record("focus", std::string(reason == COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC
                                        ? "programmatic"
                                        : "other") +
                            " visible=" + std::to_string(IsWindowVisible(parent_) != FALSE) +
                            " page=" + std::to_string(view_->page_shown));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override {
        calls_view("NotifyParentWindowPositionChanged");
        record("position-changed");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
        calls_view("put_Bounds");
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
    HWND parent_;
    WebView* view_ = new WebView;
};

class Environment : public StubICoreWebView2Environment {
public:
    HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
        HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* done) override {
        char name[256] = "";
        GetClassNameA(parent, name, sizeof name);
        record("controller", std::string("parent class ") + name);
        complete_later<Controller>(done, "controller", parent);
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
    watch_handlers();
    if (failing("silent")) {
        done->AddRef();  // kept, and never called
        return S_OK;
    }
    complete_later<Environment>(done, "environment");
    return S_OK;
}
