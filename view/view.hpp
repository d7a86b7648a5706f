// The web-view engine: one top-level window holding one web view, the page's
// bound functions and a loop that the window host drives itself.
// The window host (run_window) and the window tests use it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace vellumo::view {

enum class SizeHint { none, fixed };

class Engine {
public:
    // Synchronous: takes the JSON text of the call's argument array and
    // returns the JSON text of the answer.
    using SyncHandler = std::function<std::string(const std::string& args)>;
    // Asynchronous: takes the call's id and the JSON text of its argument
    // array; answers later, exactly once, through resolve(id, ...).
    using AsyncHandler = std::function<void(const std::string& id, const std::string& args)>;

    // How long a view runtime that answers in callbacks (WebView2) gets for
    // each answer waited for: the view made, the page's functions added.
    static constexpr std::chrono::milliseconds default_answer_limit = std::chrono::minutes(1);

    // Builds the window and its view, developer tools off. The window shows
    // itself on the first step(), so the title, size, style and position set
    // before the loop are in place when it appears. Throws std::runtime_error
    // when the view cannot be made (no display, a runtime that fails or does
    // not answer within `answer_limit`; WebKitGTK makes its view at once).
    explicit Engine(std::chrono::milliseconds answer_limit = default_answer_limit);
    // Destroys the window and the view; tasks still queued never run.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void set_title(const std::string& title);
    void set_size(int width, int height, SizeHint hint);

    // The native window (GtkWindow* here) and web view (WebKitWebView*
    // here) as opaque handles; null once the window is gone.
    void* window() const;
    void* web_view() const;

    // Makes `name` a function on window in every document shown afterwards;
    // it returns a promise that the answer settles. False, and nothing
    // changed, when the name is already bound. Throws std::runtime_error
    // when the view cannot take the function.
    bool bind(const std::string& name, SyncHandler handler);
    bool bind(const std::string& name, AsyncHandler handler);

    // Settles the page's pending call `id`: status 0 resolves its promise
    // with the value that the JSON text `result` holds, any other status
    // rejects it with that value. The page sees it on a later turn of the
    // loop, behind the tasks dispatched before. Callable from any thread.
    void resolve(const std::string& id, int status, const std::string& result);

    // Runs `task` on the loop's thread, tasks in the order posted. Callable
    // from any thread. Once the loop has ended no task runs any more.
    void dispatch(std::function<void()> task);

    // Runs a script in the current document; its result is not waited for.
    void eval(const std::string& script);

    // Shows `html` (UTF-8) as a data:text/html document, once every bound
    // function is in place for it. Throws std::runtime_error when one cannot
    // be put in place.
    void set_html(const std::string& html);

    // Ends the loop: step() returns false from now on. Callable from any
    // thread.
    void terminate();

    // One turn of the loop: waits for an event and handles it. False once the
    // loop has ended (terminate() or the window destroyed). An exception that
    // a handler or a task threw is raised again here.
    bool step();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vellumo::view
