// The page's install and uninstall requests: one job at a time on a worker
// thread, its progress posted to the page as it goes, its reply resolving the
// page's call. run_window owns the engine, the busy flag and the worker.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

namespace vellumo {

// What the bridge needs of the web-view engine; tests put a fake in its place.
class PageChannel {
public:
    virtual ~PageChannel() = default;
    virtual void resolve(const std::string& id, int status, const std::string& result) = 0;
    // Runs `task` on the user-interface thread, in posting order; any thread.
    virtual void dispatch(std::function<void()> task) = 0;
    virtual void eval(const std::string& script) = 0;
};

// The compact reply texts handed to resolve.
std::string busy_reply();
std::string stopped_reply();

// "window.setupProgress&&window.setupProgress({"label":...,"pct":...})".
std::string progress_script(int pct, const std::string& label);
// Posts the progress script to the page; called on the worker thread.
void report_progress(PageChannel* engine, int pct, const std::string& label);

// What each job binding holds: the objects run_window owns.
struct JobControl {
    PageChannel* engine = nullptr;
    std::atomic<bool>* busy = nullptr;
    std::thread* worker = nullptr;

    // On the user-interface thread: answers "Already working." while a job
    // runs, otherwise joins the previous worker and starts this job's.
    void start_job(std::string id, bool uninstall, nlohmann::json options) const;
};

void on_setup_install(const JobControl& control, const std::string& id,
                      const std::string& request);
void on_setup_uninstall(const JobControl& control, const std::string& id);

}  // namespace vellumo
