// The setup window: the embedded page in a frameless, fixed-size web view,
// its five bindings, the lock-down and the host's own loop.
#include "app/window_host.hpp"

#include <atomic>
#include <thread>

#include "app/bindings.hpp"
#include "app/job_bridge.hpp"
#include "app/lockdown.hpp"
#include "app/setup_info.hpp"
#include "app/window_geometry.hpp"
#include "engine/product_info.hpp"
#include "engine/text.hpp"
#include "platform/platform.hpp"
#include "view/view.hpp"

namespace vellumo {
namespace {

constexpr unsigned page_resource_id = 101;
constexpr int window_width = 880;
constexpr int window_height = 580;

// The job bridge's view of the engine.
class EngineChannel final : public PageChannel {
public:
    explicit EngineChannel(view::Engine& engine) : engine_(engine) {}
    void resolve(const std::string& id, int status, const std::string& result) override {
        engine_.resolve(id, status, result);
    }
    void dispatch(std::function<void()> task) override { engine_.dispatch(std::move(task)); }
    void eval(const std::string& script) override { engine_.eval(script); }

private:
    view::Engine& engine_;
};

// Joins the last worker before the engine goes, also when an exception
// leaves run_window: no worker outlives the engine it posts to.
struct JoinOnExit {
    std::thread& worker;
    ~JoinOnExit() {
        if (worker.joinable()) worker.join();
    }
};

std::string window_title() {
    return product_info.name + (uninstall_mode ? " \u2014 Uninstall" : " \u2014 Setup");
}

}  // namespace

int run_window() {
    view::Engine engine;
    EngineChannel channel(engine);
    engine.set_title(window_title());
    engine.set_size(window_width, window_height, view::SizeHint::fixed);
    void* const window = engine.window();
    if (window) {
        platform::os().dress_window(window);
        centre_window(window);
    }

    std::atomic<bool> job_busy{false};
    std::thread job_thread;
    const JoinOnExit join{job_thread};
    const JobControl jobs{&channel, &job_busy, &job_thread};

    engine.bind("setupInfo", view::Engine::SyncHandler(on_setup_info));
    engine.bind("setupOpen", view::Engine::SyncHandler(on_setup_open));
    engine.bind("setupWindow", view::Engine::SyncHandler([&](const std::string& request) {
                    return on_setup_window(request, window, [&] { engine.terminate(); }, job_busy);
                }));
    engine.bind("setupInstall", view::Engine::AsyncHandler(
                                    [jobs](const std::string& id, const std::string& request) {
                                        on_setup_install(jobs, id, request);
                                    }));
    engine.bind("setupUninstall",
                view::Engine::AsyncHandler([jobs](const std::string& id, const std::string&) {
                    on_setup_uninstall(jobs, id);
                }));

    if (void* web_view = engine.web_view()) lock_down(web_view);

    const std::string page = load_rcdata_resource(page_resource_id);
    if (page.empty()) return 3;
    engine.set_html(page);
    while (engine.step()) {
    }
    return 0;
}

}  // namespace vellumo
