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
#include "platform/windows/win32.hpp"
#include "view/page_bridge.hpp"
#include "view/windows/callback.hpp"
#include "view/windows/runtime.hpp"

namespace vellumo::view {
namespace {

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
    const std::filesystem::path folder =
        base / ("VellumoWebView-" + std::to_string(os.current_process_id()));
    std::error_code ignored;
    // An earlier process's folder of that name goes first, a link in it as a link.
    if (!os.remove_tree(folder) || !std::filesystem::create_directories(folder, ignored) ||
        os.is_link(folder))
        throw std::runtime_error("The view's data folder cannot be made.");
    return folder;
}

void remove_user_data_folder(const std::filesystem::path& folder) {
    for (int attempt = 0; attempt < user_data_removal_tries; ++attempt) {
        if (platform::os().remove_tree(folder)) return;
        Sleep(user_data_removal_pause_ms);  // a browser process still holds a file
    }
}

}  // namespace

struct Engine::State {
    // The creation of the environment and the controller, which finishes in
    // callbacks. Shared with them, so that a late one finds the engine gone.
    struct Creation {
        State* state = nullptr;
        bool finished = false;
        HRESULT result = S_OK;
    };

    HWND window = nullptr;  // null once destroyed
    DWORD thread = GetCurrentThreadId();
    ComPtr<ICoreWebView2Environment> environment;
    ComPtr<ICoreWebView2Controller> controller;
    ComPtr<ICoreWebView2> web_view;
    EventRegistrationToken message_token{};
    std::filesystem::path user_data;
    std::shared_ptr<Creation> creation = std::make_shared<Creation>();
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
    void wait_for_creation();
    void on_controller(ICoreWebView2Controller* made);
    void on_message(ICoreWebView2WebMessageReceivedEventArgs* args);
    void fit_view();
    void run_tasks();
    void end();
    static LRESULT CALLBACK window_procedure(HWND, UINT, WPARAM, LPARAM);
};

Engine::State::~State() {
    creation->state = nullptr;
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(queue_mutex);
        ended = true;
        dropped.swap(tasks);
    }
    if (web_view) web_view->remove_WebMessageReceived(message_token);
    if (controller) controller->Close();
    web_view.reset();
    controller.reset();
    environment.reset();
    if (window) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
    }
    if (!user_data.empty()) remove_user_data_folder(user_data);
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

// Runs this thread's messages until the runtime has answered, as the
// environment and controller are made asynchronously on this thread.
void Engine::State::wait_for_creation() {
    MSG message;
    while (!creation->finished) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for the caller's loop
            throw std::runtime_error("The view was not made: the program is ending.");
        }
        if (got == -1) throw failure("The view was not made", HRESULT_FROM_WIN32(GetLastError()));
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (error) std::rethrow_exception(std::exchange(error, nullptr));
    if (FAILED(creation->result)) throw failure("The WebView2 view cannot be made", creation->result);
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
    web_view->AddScriptToExecuteOnDocumentCreated(wide(bridge_script(post_message)).c_str(),
                                                  nullptr);
    fit_view();
}

void Engine::State::on_message(ICoreWebView2WebMessageReceivedEventArgs* args) {
    LPWSTR json = nullptr;
    if (FAILED(args->get_WebMessageAsJson(&json)) || !json) return;
    const std::string text = narrow(json);
    CoTaskMemFree(json);
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
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        state->window = nullptr;
        state->end();
        return 0;
    case run_tasks_message: state->run_tasks(); return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
    }
}

Engine::Engine() : state_(std::make_unique<State>()) {
    State& s = *state_;
    const auto client = find_runtime_client();
    if (!client) throw std::runtime_error("The WebView2 runtime is not installed.");
    s.create_window();
    s.user_data = user_data_folder();

    s.creation->state = &s;
    using EnvironmentDone = ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler;
    using ControllerDone = ICoreWebView2CreateCoreWebView2ControllerCompletedHandler;
    const std::shared_ptr<State::Creation> creation = s.creation;
    auto finish = [creation](HRESULT result) {
        creation->result = result;
        creation->finished = true;
    };
    ComPtr<EnvironmentDone> on_environment(make_callback<EnvironmentDone, HRESULT,
                                                         ICoreWebView2Environment*>(
        [creation, finish](HRESULT result, ICoreWebView2Environment* environment) {
            State* state = creation->state;
            if (!state || creation->finished) return;
            if (FAILED(result) || !environment) return finish(FAILED(result) ? result : E_FAIL);
            environment->AddRef();
            state->environment.reset(environment);
            ComPtr<ControllerDone> on_controller(
                make_callback<ControllerDone, HRESULT, ICoreWebView2Controller*>(
                    [creation, finish](HRESULT result, ICoreWebView2Controller* controller) {
                        State* state = creation->state;
                        if (!state || creation->finished) return;
                        if (FAILED(result) || !controller)
                            return finish(FAILED(result) ? result : E_FAIL);
                        state->guarded([&] { state->on_controller(controller); });
                        finish(S_OK);
                    }));
            const HRESULT started =
                environment->CreateCoreWebView2Controller(state->window, on_controller.get());
            if (FAILED(started)) finish(started);
        }));
    const HRESULT started =
        create_environment(*client, s.user_data.wstring(), on_environment.get());
    if (FAILED(started)) throw failure("The WebView2 runtime cannot be started", started);
    s.wait_for_creation();
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
    if (state_->web_view)
        state_->web_view->AddScriptToExecuteOnDocumentCreated(wide(binding_script(name)).c_str(),
                                                              nullptr);
    return true;
}

void Engine::dispatch(std::function<void()> task) {
    State& s = *state_;
    std::lock_guard lock(s.queue_mutex);
    if (s.ended) return;
    s.tasks.push_back(std::move(task));
    if (!s.tasks_posted) s.tasks_posted = PostMessageW(s.window, run_tasks_message, 0, 0) != 0;
}

void Engine::eval(const std::string& script) {
    if (state_->web_view) state_->web_view->ExecuteScript(wide(script).c_str(), nullptr);
}

void Engine::set_html(const std::string& html) {
    if (state_->web_view) state_->web_view->NavigateToString(wide(html).c_str());
}

void Engine::terminate() { state_->end(); }

bool Engine::step() {
    State& s = *state_;
    if (!s.shown && s.window && !s.ended) {
        ShowWindow(s.window, SW_SHOWNORMAL);
        UpdateWindow(s.window);
        s.shown = true;
    }
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
