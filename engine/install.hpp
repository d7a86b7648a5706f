// The install job: verifies the payload, writes the three files, registers the
// installation and records it. Runs on its caller's thread (the job worker in
// window mode, the main thread in silent mode).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vellumo {

// The outcome of one install or uninstall job.
struct JobResult {
    bool ok = false;
    std::string error;               // one sentence for the user, empty unless a step failed
    std::vector<std::string> notes;  // note codes, in the order added
    nlohmann::json manifest = nlohmann::json::object();
};

// Progress callback: a percentage (0 to 100) and a label.
using ProgressFn = std::function<void(int, const std::string&)>;

JobResult run_install(const ProgressFn& progress);

// Writes payload file `name` to `destination`, below the trusted root of the
// link rule, and records it in the manifest's "files"; on failure copies the
// message into result.error.
bool install_payload_file(const std::string& name, const std::filesystem::path& destination,
                          const std::filesystem::path& trusted_root, JobResult& result);

}  // namespace vellumo
