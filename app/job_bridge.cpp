#include "app/job_bridge.hpp"

#include <system_error>
#include <utility>

#include "app/jobs.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

constexpr const char* progress_prefix = "window.setupProgress&&window.setupProgress(";

std::string compact(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

// What a worker receives and keeps until it returns.
struct JobRequest {
    PageChannel* engine;
    std::atomic<bool>* busy;
    std::string id;
    bool uninstall;
    nlohmann::json options;  // travels with the job; no step reads it
};

// Back on the user-interface thread: the flag is clear before the page sees
// the reply, so a request made in answer to it is accepted.
void finish_job_on_ui_thread(PageChannel* engine, std::atomic<bool>* busy, const std::string& id,
                             const std::string& reply) {
    busy->store(false);
    engine->resolve(id, 0, reply);
}

void run_job(JobRequest request) {
    platform::os().enter_com_apartment();
    PageChannel* engine = request.engine;
    const ProgressFn progress = [engine](int pct, const std::string& label) {
        report_progress(engine, pct, label);
    };
    const std::string reply =
        compact(job_result_to_json(run_engine_job(request.uninstall, progress)));
    platform::os().leave_com_apartment();
    engine->dispatch([engine, busy = request.busy, id = std::move(request.id), reply] {
        finish_job_on_ui_thread(engine, busy, id, reply);
    });
}

}  // namespace

std::string busy_reply() { return compact({{"ok", false}, {"error", "Already working."}}); }

std::string stopped_reply() {
    JobResult stopped;
    stopped.error = job_stopped_message;
    return compact(job_result_to_json(stopped));
}

std::string progress_script(int pct, const std::string& label) {
    return progress_prefix + compact({{"pct", pct}, {"label", label}}) + ")";
}

void report_progress(PageChannel* engine, int pct, const std::string& label) {
    engine->dispatch([engine, script = progress_script(pct, label)] { engine->eval(script); });
}

void JobControl::start_job(std::string id, bool uninstall, nlohmann::json options) const {
    if (busy->exchange(true)) {
        engine->resolve(id, 0, busy_reply());
        return;
    }
    if (worker->joinable()) worker->join();
    try {
        *worker = std::thread(run_job, JobRequest{engine, busy, id, uninstall, std::move(options)});
    } catch (const std::system_error&) {
        // No thread to run the job: the call must still be answered once.
        busy->store(false);
        engine->resolve(id, 0, stopped_reply());
    }
}

void on_setup_install(const JobControl& control, const std::string& id,
                      const std::string& request) {
    const nlohmann::json args = nlohmann::json::parse(request, nullptr, false);
    nlohmann::json options = nlohmann::json::object();
    if (args.is_array() && !args.empty() && args[0].is_object()) options = args[0];
    control.start_job(id, false, std::move(options));
}

void on_setup_uninstall(const JobControl& control, const std::string& id) {
    control.start_job(id, true, nlohmann::json::object());
}

}  // namespace vellumo
