#include "app/jobs.hpp"

#include "engine/uninstall.hpp"

namespace vellumo {

JobResult run_engine_job(bool uninstall, const ProgressFn& progress) {
    try {
        return uninstall ? run_uninstall(progress) : run_install(progress);
    } catch (...) {
        JobResult stopped;
        stopped.ok = false;
        stopped.error = job_stopped_message;
        return stopped;
    }
}

nlohmann::json job_result_to_json(const JobResult& result) {
    nlohmann::json reply = nlohmann::json::object();
    reply["ok"] = result.ok;
    reply["error"] = result.error;
    reply["notes"] = nlohmann::json::array();
    for (const std::string& note : result.notes) reply["notes"].push_back(note);
    return reply;
}

}  // namespace vellumo
