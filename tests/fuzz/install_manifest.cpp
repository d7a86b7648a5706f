// install.json as load_install_manifest reads it from the install folder, and
// the root test the uninstall applies to every path it names: whatever the
// text, the record is an object and no path that passes the test leads out
// of its root. "$SANDBOX" in the input stands for the sandbox folder, so that
// the seeds can name paths under the roots.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/install_record.hpp"
#include "engine/locations.hpp"
#include "engine/product_info.hpp"
#include "engine/text.hpp"
#include "engine/uninstall.hpp"
#include "fuzz_support.hpp"

namespace {

using namespace vellumo;
namespace fs = std::filesystem;

void check_against_roots(const fs::path& path) {
    const fs::path roots[] = {
        install_dir(),
        known_folder(KnownFolder::RoamingAppData, sandbox_roaming_folder),
        known_folder(KnownFolder::Programs, sandbox_start_menu_folder),
        fs::path(),  // a known folder that could not be resolved
    };
    for (const fs::path& root : roots) {
        if (!lies_under_root(path, root)) continue;
        fuzz::require(!root.empty(), "nothing lies under an empty root");
        const fs::path inside = path.lexically_normal().lexically_relative(root);
        fuzz::require(!inside.empty() && *inside.begin() != ".." && inside != ".",
                      "a path under a root stays below it");
    }
}

void check_paths(const nlohmann::json& manifest, const char* list) {
    const auto entries = manifest.find(list);
    if (entries == manifest.end() || !entries->is_array()) return;
    for (const nlohmann::json& entry : *entries)
        if (entry.is_string()) check_against_roots(path_from_utf8(entry.get<std::string>()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool sandboxed = [] {
        sandbox_root = fuzz::scratch_folder() / "sandbox";
        fs::create_directories(install_dir());
        return true;
    }();
    (void)sandboxed;

    std::string text(reinterpret_cast<const char*>(data), size);
    const std::string placeholder = "$SANDBOX";
    for (std::size_t at = 0; (at = text.find(placeholder, at)) != std::string::npos;) {
        text.replace(at, placeholder.size(), sandbox_root.string());
        at += sandbox_root.string().size();
    }
    std::ofstream(install_dir() / "install.json", std::ios::binary | std::ios::trunc) << text;
    const nlohmann::json manifest = load_install_manifest();
    fuzz::require(manifest.is_object(), "the record reads as an object");
    check_paths(manifest, "files");
    check_paths(manifest, "shortcuts");
    return 0;
}
