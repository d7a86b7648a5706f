#include "engine/detection.hpp"

#include <algorithm>
#include <array>
#include <system_error>

#include "engine/locations.hpp"
#include "engine/product_info.hpp"
#include "engine/registry.hpp"
#include "engine/text.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;

// Python registrations (PEP 514): one sub-key per version below each key,
// holding InstallPath with ExecutablePath and a default value naming the folder.
constexpr std::array python_roots{RegistryRoot::current_user, RegistryRoot::local_machine};
constexpr std::array<const char16_t*, 2> python_core_keys{
    u"Software\\Python\\PythonCore", u"Software\\WOW6432Node\\Python\\PythonCore"};
constexpr std::uint32_t max_version_keys = 64;
constexpr std::size_t version_name_capacity = 128;  // units, the terminator included
constexpr std::size_t search_result_capacity = 32768;  // units, the terminator included

constexpr char16_t resolve_app_paths_key[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Resolve.exe";
constexpr char16_t resolve_key[] = u"Software\\Blackmagic Design\\DaVinci Resolve";

bool is_regular(const fs::path& path) {
    std::error_code error;  // a failed query counts as no file
    return fs::is_regular_file(path, error);
}

// The interpreter a version's registration names, or an empty path.
fs::path registered_interpreter(RegistryRoot root, const std::u16string& version_key) {
    const std::u16string install_path = version_key + u"\\InstallPath";
    const std::u16string executable = reg_get_string(root, install_path, u"ExecutablePath");
    if (!executable.empty()) return path_from_wide(executable);
    const std::u16string folder = reg_get_string(root, install_path, u"");
    if (!folder.empty()) return path_from_wide(folder) / "python.exe";
    return {};
}

bool registered_python_passes(const probe_python_candidate& probe) {
    auto& os = platform::os();
    for (const RegistryRoot root : python_roots) {
        for (const char16_t* key : python_core_keys) {
            if (!os.registry_key_exists(root, key)) continue;
            std::u16string version;
            for (std::uint32_t index = 0; index < max_version_keys; ++index) {
                // Any failure ends this key: no more versions, or a name too long.
                if (!os.registry_enum_subkey(root, key, index, version_name_capacity, version))
                    break;
                if (!version.starts_with(u'3')) continue;
                if (probe(registered_interpreter(root, key + (u"\\" + version)), u""))
                    return true;
            }
        }
    }
    return false;
}

// Where the executable search path has `file_name`, or an empty path.
fs::path search_path(const std::u16string& file_name) {
    fs::path found = platform::os().search_path(file_name);
    if (path_wide(found).size() >= search_result_capacity) return {};
    return found;
}

fs::path program_files_folder() {
    if (!sandbox_root.empty()) return sandbox_root / sandbox_program_files_folder;
    const auto variable = platform::os().environment_variable(u"ProgramW6432");
    return path_from_wide(variable && !variable->empty() ? *variable
                                                          : platform::program_files_fallback());
}

}  // namespace

int run_hidden_process(const std::u16string& exe, const std::u16string& args) {
    const std::u16string command_line = u"\"" + exe + u"\" " + args;
    return platform::os().run_hidden(exe, command_line, probe_time_limit_ms);
}

bool probe_python_candidate::operator()(const fs::path& candidate,
                                        const std::u16string& prefix) const {
    if (!is_regular(candidate)) return false;
    const std::u16string text = path_wide(candidate);
    if (text.find(u"WindowsApps") != std::u16string::npos) return false;
    return run_hidden_process(text, prefix + probe_arguments) == 0;
}

bool detect_python() {
    const std::u16string probe_arguments = python_probe_arguments;
    const probe_python_candidate probe{probe_arguments};

    if (!sandbox_root.empty())
        return probe(sandbox_root / sandbox_program_files_folder / "Python" / "python.exe", u"");

    if (registered_python_passes(probe)) return true;

    // Only the folders of PATH are searched, never the current folder or the
    // setup's own: a python.exe planted beside a download is not started.
    if (const fs::path python = search_path(u"python.exe"); !python.empty() && probe(python, u""))
        return true;
    const fs::path launcher = search_path(u"py.exe");
    return !launcher.empty() && probe(launcher, u"-3 ");
}

bool detect_resolve() {
    const fs::path installed =
        program_files_folder() / "Blackmagic Design" / "DaVinci Resolve" / "Resolve.exe";
    if (is_regular(installed)) return true;
    if (!sandbox_root.empty()) return false;

    const std::u16string app_path =
        reg_get_string(RegistryRoot::local_machine, resolve_app_paths_key, u"");
    const std::u16string install_path =
        reg_get_string(RegistryRoot::local_machine, resolve_key, u"InstallPath");
    if (!app_path.empty() && is_regular(path_from_wide(app_path))) return true;
    if (install_path.empty()) return false;
    return is_regular(path_from_wide(install_path) / "Resolve.exe");
}

bool is_process_running(const std::u16string& name) {
    const auto running = platform::os().running_process_names();
    if (!running) return false;
    return std::ranges::any_of(*running, [&](const std::u16string& process) {
        return equals_ignoring_case(process, name);
    });
}

}  // namespace vellumo
