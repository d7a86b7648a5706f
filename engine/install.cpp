#include "engine/install.hpp"

#include <optional>
#include <system_error>

#include "engine/detection.hpp"
#include "engine/install_record.hpp"
#include "engine/links.hpp"
#include "engine/locations.hpp"
#include "engine/payload.hpp"
#include "engine/product_info.hpp"
#include "engine/replace.hpp"
#include "engine/text.hpp"

namespace vellumo {
namespace fs = std::filesystem;

namespace {

constexpr const char* registering_failed_message = "Could not finish registering the installation.";

// Creates the install folder; false (with the message in result.error) when it
// cannot be made or something else stands at its place. An unresolved known
// folder fails here too, before anything is written: its locations would lie
// relative to wherever the setup was started, where no uninstall finds them.
// So does a location whose name install.json cannot record exactly: the
// uninstall would not find the files. So does a link on the way to the
// folder: its leftovers would be cleared and its files written wherever the
// link points.
bool prepare_install_folder(const fs::path& folder, const fs::path& local, JobResult& result) {
    if (const std::optional<fs::path> location = unresolved_location()) {
        result.error = "Could not create " + path_utf8(*location) + ".";
        return false;
    }
    if (const std::optional<fs::path> location = unrecordable_location()) {
        result.error = "Could not install into " + path_utf8(*location) +
                       ": its path is not valid Unicode.";
        return false;
    }
    if (link_in_the_way(folder, local)) {
        result.error = "A link is in the way of " + path_utf8(folder.filename()) + ".";
        return false;
    }
    std::error_code created;
    fs::create_directories(folder, created);
    std::error_code ignored;
    if (created || !fs::is_directory(fs::status(folder, ignored))) {
        result.error = "Could not create " + path_utf8(folder) + ".";
        return false;
    }
    return true;
}

// An earlier installer of the product left these two in the install folder.
void remove_earlier_installer(const fs::path& folder) {
    std::error_code ignored;
    fs::remove(folder / "unins000.exe", ignored);
    fs::remove(folder / "unins000.dat", ignored);
}

// Copies the running setup into the install folder as its uninstaller, unless
// it already is that file. A partial copy never takes the place of an earlier
// one: the Uninstall entry would start it.
bool copy_setup_as_uninstaller(const fs::path& folder, const fs::path& local) {
    const fs::path target = folder / "uninstall.exe";
    const fs::path self = current_exe_path();
    if (self == target) return true;
    std::string ignored;  // the step has one message of its own
    return copy_file_replacing(self, target, local, ignored);
}

}  // namespace

bool install_payload_file(const std::string& name, const fs::path& destination,
                          const fs::path& trusted_root, JobResult& result) {
    const std::vector<std::uint8_t>& bytes = payload_files.at(name);
    std::string error;
    if (!write_file_replacing(destination, trusted_root, bytes, error)) {
        result.error = error;
        return false;
    }
    result.manifest["files"].push_back(path_utf8(destination));
    return true;
}

JobResult run_install(const ProgressFn& progress) {
    JobResult result;
    result.manifest["files"] = nlohmann::json::array();
    result.manifest["registry"] = nlohmann::json::array();
    result.manifest["shortcuts"] = nlohmann::json::array();

    progress(4, "Checking the installer");
    if (!load_payload(result.error)) return result;

    const fs::path folder = install_dir();
    const fs::path local = local_root();
    if (!prepare_install_folder(folder, local, result)) return result;
    remove_leftovers(folder);

    const bool resolve_found = detect_resolve();
    const bool python_found = detect_python();

    progress(18, "Installing the Vellumo window");
    if (!install_payload_file("VellumoCompanion.exe", folder / "VellumoCompanion.exe", local,
                              result))
        return result;

    progress(40, "Adding Vellumo to Resolve's Scripts menu");
    if (!install_payload_file("Vellumo.py", resolve_scripts_dir() / "Vellumo.py", roaming_root(),
                              result))
        return result;

    progress(58, "Adding the setup guide");
    if (!install_payload_file("SETUP.md", folder / "SETUP.md", local, result)) return result;

    remove_earlier_installer(folder);

    if (!python_found) result.notes.push_back("python");
    if (!resolve_found) result.notes.push_back("no-resolve");
    if (is_process_running(u"Resolve.exe")) result.notes.push_back("restart-resolve");

    progress(82, "Registering with Windows");
    if (!copy_setup_as_uninstaller(folder, local)) {
        result.error = registering_failed_message;
        return result;
    }
    write_uninstall_entry(folder);
    complete_manifest(result.manifest);
    if (!write_install_manifest(folder, local, result.manifest)) {
        result.error = registering_failed_message;
        return result;
    }

    progress(100, "Done");
    result.ok = true;
    return result;
}

}  // namespace vellumo
