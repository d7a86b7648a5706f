// The web-view engine on GTK 3 and WebKitGTK 4.1.
//
// The page side is view/page_bridge.hpp's; the channel is the script message
// handler "vellumo".
//
// Host side: GLib calls us back from C, so every callback runs its C++ inside
// guarded(), which keeps the first exception for step() to raise again.
#include "view/view.hpp"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

#include "view/page_bridge.hpp"

namespace vellumo::view {
namespace {

constexpr const char* message_channel = "vellumo";
// Taken when the document starts, before its own scripts can replace it.
constexpr const char* post_message =
    "window.webkit.messageHandlers.vellumo.postMessage.bind(window.webkit.messageHandlers.vellumo)";

struct GFree {
    void operator()(void* p) const { g_free(p); }
};
struct GObjectUnref {
    void operator()(void* p) const { g_object_unref(p); }
};

// Element `index` of a JavaScript array when it is a string.
std::optional<std::string> string_at(JSCValue* array, unsigned index) {
    if (!jsc_value_is_array(array)) return std::nullopt;
    std::unique_ptr<JSCValue, GObjectUnref> item(
        jsc_value_object_get_property_at_index(array, index));
    if (!item || !jsc_value_is_string(item.get())) return std::nullopt;
    std::unique_ptr<char, GFree> text(jsc_value_to_string(item.get()));
    return std::string(text.get());
}

}  // namespace

struct Engine::State {
    GtkWidget* window = nullptr;        // null once destroyed
    WebKitWebView* view = nullptr;      // inside window; null with it
    WebKitWebContext* context = nullptr;
    WebKitUserContentManager* content = nullptr;
    bool shown = false;
    std::atomic<bool> ended{false};
    std::exception_ptr error;
    std::map<std::string, AsyncHandler> handlers;

    std::mutex queue_mutex;
    std::deque<std::function<void()>> tasks;
    guint queue_source = 0;

    ~State();

    template <class Body>
    void guarded(Body&& body) noexcept {
        try {
            body();
        } catch (...) {
            if (!error) error = std::current_exception();
            g_main_context_wakeup(nullptr);
        }
    }

    static void on_destroy(GtkWidget*, gpointer data);
    static void on_message(WebKitUserContentManager*, WebKitJavascriptResult* result,
                           gpointer data);
    static gboolean run_tasks(gpointer data);
};

Engine::State::~State() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(queue_mutex);
        dropped.swap(tasks);
        if (queue_source != 0) g_source_remove(queue_source);
        queue_source = 0;
    }
    if (content) {
        g_signal_handlers_disconnect_by_data(content, this);
        g_object_unref(content);
    }
    if (window) {
        g_signal_handlers_disconnect_by_data(window, this);
        gtk_widget_destroy(window);
        gdk_display_flush(gdk_display_get_default());
    }
    if (context) g_object_unref(context);
}

void Engine::State::on_destroy(GtkWidget*, gpointer data) {
    auto* state = static_cast<State*>(data);
    state->window = nullptr;
    state->view = nullptr;
    state->ended = true;
}

void Engine::State::on_message(WebKitUserContentManager*, WebKitJavascriptResult* result,
                               gpointer data) {
    auto* state = static_cast<State*>(data);
    state->guarded([&] {
        JSCValue* message = webkit_javascript_result_get_js_value(result);
        const auto name = string_at(message, 0);
        const auto id = string_at(message, 1);
        const auto args = string_at(message, 2);
        if (!name || !id || !args) return;  // not a call of ours
        const auto handler = state->handlers.find(*name);
        if (handler != state->handlers.end()) handler->second(*id, *args);
    });
}

gboolean Engine::State::run_tasks(gpointer data) {
    auto* state = static_cast<State*>(data);
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(state->queue_mutex);
            if (state->tasks.empty() || state->ended) {
                state->queue_source = 0;
                return G_SOURCE_REMOVE;
            }
            if (state->error) return G_SOURCE_CONTINUE;  // raised first; the rest later
            task = std::move(state->tasks.front());
            state->tasks.pop_front();
        }
        state->guarded(task);
    }
}

Engine::Engine(std::chrono::milliseconds) : state_(std::make_unique<State>()) {
    if (!gtk_init_check(nullptr, nullptr) || !gdk_display_get_default())
        throw std::runtime_error("The window cannot be opened: there is no display.");
    State& s = *state_;

    s.content = webkit_user_content_manager_new();
    const std::string message_signal = std::string("script-message-received::") + message_channel;
    g_signal_connect(s.content, message_signal.c_str(), G_CALLBACK(State::on_message), &s);
    webkit_user_content_manager_register_script_message_handler(s.content, message_channel);
    WebKitUserScript* bridge = webkit_user_script_new(
        bridge_script(post_message).c_str(),
        WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(s.content, bridge);
    webkit_user_script_unref(bridge);

    // Ephemeral: the view keeps no website data on disk.
    s.context = webkit_web_context_new_ephemeral();
    s.view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", s.context,
                                          "user-content-manager", s.content, nullptr));
    webkit_settings_set_enable_developer_extras(webkit_web_view_get_settings(s.view), FALSE);

    s.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(s.window), GTK_WIDGET(s.view));
    g_signal_connect(s.window, "destroy", G_CALLBACK(State::on_destroy), &s);
}

Engine::~Engine() = default;

void Engine::set_title(const std::string& title) {
    if (state_->window) gtk_window_set_title(GTK_WINDOW(state_->window), title.c_str());
}

void Engine::set_size(int width, int height, SizeHint hint) {
    GtkWidget* window = state_->window;
    if (!window) return;
    if (hint == SizeHint::fixed) {
        gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
        gtk_widget_set_size_request(window, width, height);
    } else {
        gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
        gtk_widget_set_size_request(window, -1, -1);
        gtk_window_resize(GTK_WINDOW(window), width, height);
    }
}

void* Engine::window() const { return state_->window; }

void* Engine::web_view() const { return state_->view; }

bool Engine::bind(const std::string& name, AsyncHandler handler) {
    if (!state_->handlers.emplace(name, std::move(handler)).second) return false;
    WebKitUserScript* script = webkit_user_script_new(
        binding_script(name).c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(state_->content, script);
    webkit_user_script_unref(script);
    return true;
}

void Engine::dispatch(std::function<void()> task) {
    State& s = *state_;
    if (s.ended) return;
    std::lock_guard lock(s.queue_mutex);
    s.tasks.push_back(std::move(task));
    if (s.queue_source == 0) s.queue_source = g_idle_add(State::run_tasks, &s);
}

void Engine::eval(const std::string& script) {
    if (state_->view)
        webkit_web_view_evaluate_javascript(state_->view, script.data(),
                                            static_cast<gssize>(script.size()), nullptr, nullptr,
                                            nullptr, nullptr, nullptr);
}

void Engine::set_html(const std::string& html) {
    if (!state_->view) return;
    std::unique_ptr<char, GFree> base64(
        g_base64_encode(reinterpret_cast<const guchar*>(html.data()), html.size()));
    const std::string uri = std::string("data:text/html;charset=utf-8;base64,") + base64.get();
    webkit_web_view_load_uri(state_->view, uri.c_str());
}

void Engine::terminate() {
    state_->ended = true;
    g_main_context_wakeup(nullptr);
}

bool Engine::step() {
    State& s = *state_;
    if (!s.shown && s.window && !s.ended) {
        gtk_widget_show_all(s.window);
        s.shown = true;
    }
    if (!s.ended) g_main_context_iteration(nullptr, TRUE);
    if (s.error) std::rethrow_exception(std::exchange(s.error, nullptr));
    return !s.ended;
}

}  // namespace vellumo::view
