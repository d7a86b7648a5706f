// Install and uninstall jobs as the program runs them: the engine call inside
// a catch-all, and the JobReply document a job's outcome becomes. Used by the
// silent mode (result.json) and by the window's job bridge.
#pragma once

#include <nlohmann/json.hpp>

#include "engine/install.hpp"

namespace vellumo {

// The error of a job that an exception ended.
inline constexpr const char* job_stopped_message =
    "Setup stopped before finishing. Some steps may have completed; retry to finish.";

// Runs run_uninstall or run_install with `progress`. An exception from either
// becomes a result with ok false, job_stopped_message, no notes and an empty
// manifest: whatever the engine had gathered is lost with it.
JobResult run_engine_job(bool uninstall, const ProgressFn& progress);

// {"error", "notes", "ok"} of a job's result; "notes" is always present.
nlohmann::json job_result_to_json(const JobResult& result);

}  // namespace vellumo
