// The web-view engine on Win32 and WebView2.
//
// The page side is view/page_bridge.hpp's; the channel is WebView2's web
// messages (window.chrome.webview.postMessage).
//
// Host side: everything runs on the thread that built the engine, in its
// single-threaded apartment. COM and the window procedure call us back from
// code that must not see an exception, so every callback runs its C++ inside
// guarded(), which keeps the first exception for step() to raise again.
#include "view/view.hpp"

#include <windows.h>

#include <WebView2.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/platform.hpp"
#include "platform/windows/callback.hpp"
#include "platform/windows/win32.hpp"
#include "view/page_bridge.hpp"
#include "view/windows/runtime.hpp"

namespace vellumo::view {
namespace {

using platform::ComPtr;
using platform::make_callback;

constexpr const wchar_t* window_class = L"VellumoSetupWindow";
constexpr UINT run_tasks_message = WM_APP + 1;
constexpr WORD program_icon_id = 1;  // the executable's own icon resource
constexpr UINT default_dpi = 96;
// Taken when the document starts, before its own scripts can replace it.
constexpr const char* post_message =
    "window.chrome.webview.postMessage.bind(window.chrome.webview)";
// How long the browser processes get to let go of the user data folder.
constexpr int user_data_removal_tries = 50;
constexpr DWORD user_data_removal_pause_ms = 100;
// The names the view's data may take: the process's own, and beside it
// fresh ones for when earlier folders of those names will not go.
constexpr int user_data_names = 10;

std::wstring wide(const std::string& text) {
    return platform::wide_string(platform::utf8_to_utf16(text));
}

std::string narrow(const wchar_t* text) {
    return platform::utf16_to_utf8(reinterpret_cast<const char16_t*>(text));
}

std::runtime_error failure(const char* what, HRESULT result) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    return std::runtime_error(std::string(what) + " (" + code + ").");
}

// The browser's data: a folder of this process's own in the user's private
// temporary folder, inside the sandbox in sandbox mode; never beside the
// executable, where it would keep the install folder from being removed.
std::filesystem::path user_data_folder() {
    platform::System& os = platform::os();
    std::filesystem::path base = os.environment_path(u"VELLUMO_SETUP_SANDBOX");
    if (base.empty()) base = os.temporary_folder();
    if (base.empty()) throw std::runtime_error("There is no private folder for the view's data.");
    const std::string name = "VellumoWebView-" + std::to_string(os.current_process_id());
    // An earlier process's folder of a name goes first, a link in it as a
    // link. One that will not go (a browser process of a crashed run still
    // holds a file in it) is left for the next name beside it. Only processes
    // of this id use these names; the folder is made exclusively.
    for (int number = 0; number < user_data_names; ++number) {
        const std::filesystem::path folder =
            base / (number == 0 ? name : name + "-" + std::to_string(number));
        std::error_code ignored;
        if (os.remove_tree(folder) && std::filesystem::create_directories(folder, ignored) &&
            !os.is_link(folder))
            return folder;
    }
    throw std::runtime_error("The view's data folder cannot be made.");
}

// The retries wait for browser processes still holding a file, which only an
// environment has; the folder of a view that was never made goes at once.
void remove_user_data_folder(const std::filesystem::path& folder, bool environment_made) {
    const int tries = environment_made ? user_data_removal_tries : 1;
    for (int attempt = 1; !platform::os().remove_tree(folder) && attempt < tries; ++attempt)
        Sleep(user_data_removal_pause_ms);
}

}  // namespace

struct Engine::State {
    // What the runtime's callbacks reach the engine through, so that a late
    // one finds it gone.
    struct Link {
        State* state = nullptr;
    };

    // Null once destroyed, after `ended` is set; read by dispatch() on any
    // thread.
    std::atomic<HWND> window{nullptr};
    DWORD thread = GetCurrentThreadId();
    ComPtr<ICoreWebView2Environment> environment;
    ComPtr<ICoreWebView2Controller> controller;
    ComPtr<ICoreWebView2> web_view;
    EventRegistrationToken message_token{};
    std::filesystem::path user_data;
    // How long the runtime gets for each answer (the view made, the page's
    // scripts added).
    std::chrono::milliseconds answer_limit{};
    std::shared_ptr<Link> link = std::make_shared<Link>();
    // The environment and the controller are made in callbacks.
    bool creation_finished = false;
    HRESULT creation_result = S_OK;
    // Document scripts added whose completion has not come yet.
    int scripts_pending = 0;
    SIZE fixed_size{};  // outer size of a fixed-size window, else zero
    bool shown = false;
    std::atomic<bool> ended{false};
    std::exception_ptr error;
    std::map<std::string, AsyncHandler> handlers;

    std::mutex queue_mutex;
    std::deque<std::function<void()>> tasks;
    bool tasks_posted = false;

    ~State();

    template <class Body>
    void guarded(Body&& body) noexcept {
        try {
            body();
        } catch (...) {
            if (!error) error = std::current_exception();
            PostThreadMessageW(thread, WM_NULL, 0, 0);  // step() raises it
        }
    }

    void create_window();
    void start_creation(const RuntimeClient& client);
    void creation_failed(HRESULT result);
    template <class Done>
    void run_messages_until(Done done);
    void on_controller(ICoreWebView2Controller* made);
    void add_document_script(const std::string& script);
    void on_script_added(HRESULT result);
    void on_message(ICoreWebView2WebMessageReceivedEventArgs* args);
    void run_call(const std::string& text);
    void fit_view();
    void show();
    void post_task(std::function<void()> task);
    void run_tasks();
    void end();
    static LRESULT CALLBACK window_procedure(HWND, UINT, WPARAM, LPARAM);
};

Engine::State::~State() {
    link->state = nullptr;
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(queue_mutex);
        ended = true;
        dropped.swap(tasks);
    }
    if (web_view) web_view->remove_WebMessageReceived(message_token);
    if (controller) controller->Close();
    const bool environment_made = environment.get() != nullptr;
    web_view.reset();
    controller.reset();
    environment.reset();
    if (window) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
    }
    if (!user_data.empty()) remove_user_data_folder(user_data, environment_made);
}

void Engine::State::create_window() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = window_procedure;
    type.hInstance = instance;
    type.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(program_icon_id));
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.lpszClassName = window_class;
    if (!RegisterClassExW(&type) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw failure("The window class cannot be registered", HRESULT_FROM_WIN32(GetLastError()));
    window = CreateWindowExW(0, window_class, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                             instance, this);
    if (!window) throw failure("The window cannot be made", HRESULT_FROM_WIN32(GetLastError()));
}

// Starts making the environment and then its controller, each answered in
// a callback on this thread.
void Engine::State::start_creation(const RuntimeClient& client) {
    link->state = this;
    using EnvironmentDone = ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler;
    using ControllerDone = ICoreWebView2CreateCoreWebView2ControllerCompletedHandler;
    const std::shared_ptr<Link> shared = link;
    ComPtr<EnvironmentDone> on_environment(make_callback<EnvironmentDone, HRESULT,
                                                         ICoreWebView2Environment*>(
        [shared](HRESULT result, ICoreWebView2Environment* environment) {
            State* state = shared->state;
            if (!state || state->creation_finished) return;
            if (FAILED(result) || !environment) return state->creation_failed(result);
            environment->AddRef();
            state->environment.reset(environment);
            ComPtr<ControllerDone> on_controller(
                make_callback<ControllerDone, HRESULT, ICoreWebView2Controller*>(
                    [shared](HRESULT result, ICoreWebView2Controller* controller) {
                        State* state = shared->state;
                        if (!state || state->creation_finished) return;
                        if (FAILED(result) || !controller) return state->creation_failed(result);
                        state->guarded([&] { state->on_controller(controller); });
                        state->creation_finished = true;
                    }));
            const HRESULT started =
                environment->CreateCoreWebView2Controller(state->window, on_controller.get());
            if (FAILED(started)) state->creation_failed(started);
        }));
    const HRESULT started = create_environment(client, user_data.wstring(), on_environment.get());
    if (FAILED(started)) throw failure("The WebView2 runtime cannot be started", started);
}

void Engine::State::creation_failed(HRESULT result) {
    creation_result = FAILED(result) ? result : E_FAIL;
    creation_finished = true;
}

// Runs this thread's messages until `done()` holds, as the runtime answers in
// callbacks on this thread. A callback's exception is raised here; a runtime
// that has not answered within the limit counts as failed, so that one that
// never answers does not leave an invisible process.
template <class Done>
void Engine::State::run_messages_until(Done done) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(answer_limit.count());
    MSG message;
    while (!done() && !error) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) throw std::runtime_error("The WebView2 runtime does not answer.");
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now),
                                        QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            continue;
        }
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for the caller's loop
            throw std::runtime_error("The view is not ready: the program is ending.");
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (error) std::rethrow_exception(std::exchange(error, nullptr));
}

void Engine::State::on_controller(ICoreWebView2Controller* made) {
    made->AddRef();
    controller.reset(made);
    if (FAILED(controller->get_CoreWebView2(web_view.put())) || !web_view)
        throw std::runtime_error("The WebView2 controller has no view.");
    ComPtr<ICoreWebView2Settings> settings;
    if (SUCCEEDED(web_view->get_Settings(settings.put())) && settings)
        settings->put_AreDevToolsEnabled(FALSE);

    using Handler = ICoreWebView2WebMessageReceivedEventHandler;
    using Args = ICoreWebView2WebMessageReceivedEventArgs*;
    ComPtr<Handler> on_web_message(make_callback<Handler, ICoreWebView2*, Args>(
        [this](ICoreWebView2*, Args args) { guarded([&] { on_message(args); }); }));
    const HRESULT added = web_view->add_WebMessageReceived(on_web_message.get(), &message_token);
    if (FAILED(added)) throw failure("The view cannot take messages", added);
    add_document_script(bridge_script(post_message));
    fit_view();
}

// Added asynchronously: set_html waits for every completion, so that the
// page's first script finds its functions.
void Engine::State::add_document_script(const std::string& script) {
    using Done = ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler;
    const std::shared_ptr<Link> shared = link;
    ComPtr<Done> on_added(make_callback<Done, HRESULT, LPCWSTR>([shared](HRESULT result, LPCWSTR) {
        if (State* state = shared->state) state->guarded([&] { state->on_script_added(result); });
    }));
    ++scripts_pending;
    const HRESULT started =
        web_view->AddScriptToExecuteOnDocumentCreated(wide(script).c_str(), on_added.get());
    if (FAILED(started)) on_script_added(started);
}

void Engine::State::on_script_added(HRESULT result) {
    --scripts_pending;
    if (FAILED(result)) throw failure("The page's functions cannot be added to the view", result);
}

// Only takes the call: it runs from the task queue once the event has
// returned, as WebView2 supports no message loop (a window drag) or long wait
// (setupInfo's probes) inside its event handlers. Calls keep their order.
void Engine::State::on_message(ICoreWebView2WebMessageReceivedEventArgs* args) {
    LPWSTR json = nullptr;
    if (FAILED(args->get_WebMessageAsJson(&json)) || !json) return;
    std::string text = narrow(json);
    CoTaskMemFree(json);
    post_task([this, text = std::move(text)] { run_call(text); });
}

void Engine::State::run_call(const std::string& text) {
    const nlohmann::json message = nlohmann::json::parse(text, nullptr, false);
    if (!message.is_array() || message.size() != 3) return;  // not a call of ours
    for (const auto& part : message)
        if (!part.is_string()) return;
    const auto handler = handlers.find(message[0].get<std::string>());
    if (handler != handlers.end())
        handler->second(message[1].get<std::string>(), message[2].get<std::string>());
}

void Engine::State::fit_view() {
    if (!controller || !window) return;
    RECT client{};
    GetClientRect(window, &client);
    controller->put_Bounds(client);
}

// Keys reach the page without a click first: its keyboard flow (Enter,
// Escape) needs the focus in the view.
void Engine::State::show() {
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    shown = true;
    if (controller) controller->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
}

void Engine::State::post_task(std::function<void()> task) {
    std::lock_guard lock(queue_mutex);
    if (ended) return;
    tasks.push_back(std::move(task));
    if (!tasks_posted) tasks_posted = PostMessageW(window, run_tasks_message, 0, 0) != 0;
}

void Engine::State::run_tasks() {
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(queue_mutex);
            if (tasks.empty() || ended) {
                tasks_posted = false;
                return;
            }
            task = std::move(tasks.front());
            tasks.pop_front();
        }
        guarded(task);
        if (error) {
            // Raised first; the rest on a later turn.
            std::lock_guard lock(queue_mutex);
            tasks_posted = PostMessageW(window, run_tasks_message, 0, 0) != 0;
            return;
        }
    }
}

void Engine::State::end() {
    {
        std::lock_guard lock(queue_mutex);
        ended = true;
    }
    PostThreadMessageW(thread, WM_NULL, 0, 0);  // wakes step()
}

LRESULT CALLBACK Engine::State::window_procedure(HWND window, UINT message, WPARAM wparam,
                                                 LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!state) return DefWindowProcW(window, message, wparam, lparam);
    switch (message) {
    case WM_SIZE: state->guarded([&] { state->fit_view(); }); return 0;
    case WM_MOVE:
    case WM_MOVING:
        // The view places what it pops up from the window's position.
        if (state->controller) state->controller->NotifyParentWindowPositionChanged();
        return DefWindowProcW(window, message, wparam, lparam);
    case WM_GETMINMAXINFO:
        if (state->fixed_size.cx > 0) {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
            limits->ptMinTrackSize = {state->fixed_size.cx, state->fixed_size.cy};
            limits->ptMaxTrackSize = limits->ptMinTrackSize;
        }
        return 0;
    case WM_DPICHANGED: {
        const auto* suggested = reinterpret_cast<const RECT*>(lparam);
        const SIZE size{suggested->right - suggested->left, suggested->bottom - suggested->top};
        if (state->fixed_size.cx > 0) state->fixed_size = size;
        SetWindowPos(window, nullptr, suggested->left, suggested->top, size.cx, size.cy,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY:
        // Ended first: a worker's dispatch that finds the loop going posts to
        // a window that is still there, and one after it posts nothing.
        state->end();
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        state->window = nullptr;
        return 0;
    case run_tasks_message: state->run_tasks(); return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
    }
}

Engine::Engine(std::chrono::milliseconds answer_limit) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.answer_limit = answer_limit;
    const auto client = find_runtime_client();
    if (!client) throw std::runtime_error("The WebView2 runtime is not installed.");
    s.create_window();
    s.user_data = user_data_folder();

    s.start_creation(*client);
    s.run_messages_until([&s] { return s.creation_finished; });
    if (FAILED(s.creation_result))
        throw failure("The WebView2 view cannot be made", s.creation_result);
}

Engine::~Engine() = default;

void Engine::set_title(const std::string& title) {
    if (state_->window) SetWindowTextW(state_->window, wide(title).c_str());
}

void Engine::set_size(int width, int height, SizeHint hint) {
    State& s = *state_;
    if (!s.window) return;
    UINT dpi = GetDpiForWindow(s.window);
    if (dpi == 0) dpi = default_dpi;
    auto style = static_cast<DWORD>(GetWindowLongPtrW(s.window, GWL_STYLE));
    if (hint == SizeHint::fixed)
        style &= ~(WS_THICKFRAME | WS_MAXIMIZEBOX);
    else
        style |= WS_THICKFRAME | WS_MAXIMIZEBOX;
    SetWindowLongPtrW(s.window, GWL_STYLE, static_cast<LONG_PTR>(style));
    // The page gets width x height at 96 dots per inch, scaled to the monitor.
    RECT frame{0, 0, MulDiv(width, static_cast<int>(dpi), default_dpi),
               MulDiv(height, static_cast<int>(dpi), default_dpi)};
    AdjustWindowRectExForDpi(&frame, style, FALSE,
                             static_cast<DWORD>(GetWindowLongPtrW(s.window, GWL_EXSTYLE)), dpi);
    const SIZE size{frame.right - frame.left, frame.bottom - frame.top};
    s.fixed_size = hint == SizeHint::fixed ? size : SIZE{};
    SetWindowPos(s.window, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void* Engine::window() const { return state_->window; }

void* Engine::web_view() const { return state_->controller.get(); }

bool Engine::bind(const std::string& name, AsyncHandler handler) {
    if (!state_->handlers.emplace(name, std::move(handler)).second) return false;
    if (state_->web_view) state_->add_document_script(binding_script(name));
    return true;
}

void Engine::dispatch(std::function<void()> task) { state_->post_task(std::move(task)); }

void Engine::eval(const std::string& script) {
    if (state_->web_view) state_->web_view->ExecuteScript(wide(script).c_str(), nullptr);
}

void Engine::set_html(const std::string& html) {
    State& s = *state_;
    if (!s.web_view) return;
    s.run_messages_until([&s] { return s.scripts_pending == 0; });
    s.web_view->NavigateToString(wide(html).c_str());
}

void Engine::terminate() { state_->end(); }

bool Engine::step() {
    State& s = *state_;
    if (!s.shown && s.window && !s.ended) s.show();
    if (!s.ended) {
        MSG message;
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        } else {
            s.end();  // the quit message, or an error
        }
    }
    if (s.error) std::rethrow_exception(std::exchange(s.error, nullptr));
    return !s.ended;
}

}  // namespace vellumo::view
