#include "engine/install_record.hpp"

#include <optional>
#include <system_error>

#include "engine/locations.hpp"
#include "engine/product_info.hpp"
#include "engine/registry.hpp"
#include "engine/replace.hpp"
#include "engine/text.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace fs = std::filesystem;

namespace {

constexpr const char* manifest_name = "install.json";

// install.json is an object of arrays of strings: two levels. Anything deeper,
// or larger than any record of ours, is not one; refusing it while parsing
// (and reading) keeps a hostile file from exhausting the stack or the memory.
constexpr int max_manifest_depth = 2;
constexpr std::size_t max_manifest_bytes = 1024 * 1024;

}  // namespace

std::u16string uninstall_key_path() { return uninstall_key_prefix + product_info.uninstall_key_name; }

std::uint32_t estimated_size_kib(const fs::path& folder) {
    std::error_code opened;
    fs::directory_iterator listing(folder, opened);
    if (opened) return 0;
    std::uintmax_t bytes = 0;
    // Advancing throws on error: that ends the job through the caller's handler.
    for (const fs::directory_entry& entry : listing) {
        std::error_code ignored;
        if (!fs::is_regular_file(fs::status(entry.path(), ignored))) continue;
        const std::uintmax_t size = fs::file_size(entry.path(), ignored);
        if (!ignored) bytes += size;
    }
    return static_cast<std::uint32_t>(bytes / 1024);
}

void write_uninstall_entry(const fs::path& install_folder) {
    const std::u16string key = uninstall_key_path();
    const std::u16string uninstaller =
        u"\"" + path_wide(install_folder / "uninstall.exe") + u"\"";

    reg_delete_key_tree(key);
    reg_set_string(key, u"DisplayName", to_wide(product_info.name));
    reg_set_string(key, u"DisplayVersion", to_wide(product_info.version));
    reg_set_string(key, u"Publisher", u"Vellumo");
    reg_set_string(key, u"URLInfoAbout", to_wide(maker_home_page));
    reg_set_string(key, u"InstallLocation", path_wide(install_folder));
    reg_set_string(key, u"DisplayIcon",
                   path_wide(install_folder / path_from_wide(product_info.companion_exe)));
    reg_set_string(key, u"UninstallString", uninstaller + u" --uninstall");
    reg_set_string(key, u"QuietUninstallString", uninstaller + u" --uninstall --silent");
    reg_set_dword(key, u"NoModify", 1);
    reg_set_dword(key, u"NoRepair", 1);
    reg_set_dword(key, u"EstimatedSize", estimated_size_kib(install_folder));
}

void complete_manifest(nlohmann::json& manifest) {
    manifest["registry"].push_back(to_utf8(uninstall_key_path()));
    manifest["product"] = product_info.kind;
    manifest["version"] = product_info.version;
}

std::string manifest_text(const nlohmann::json& manifest) {
    return manifest.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
}

bool write_install_manifest(const fs::path& install_folder, const fs::path& trusted_root,
                            const nlohmann::json& manifest) {
    std::string ignored;  // the caller has one message for every failure
    return write_text_file_replacing(install_folder / manifest_name, trusted_root,
                                     manifest_text(manifest), ignored);
}

nlohmann::json load_install_manifest() {
    // Only a regular file: a fifo planted at the name would hold the reader.
    const std::optional<std::string> text =
        platform::os().read_regular_file(install_dir() / manifest_name, max_manifest_bytes);
    if (!text) return nlohmann::json::object();
    bool too_deep = false;
    const nlohmann::json::parser_callback_t refuse_deep =
        [&too_deep](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
            const bool opens = event == nlohmann::json::parse_event_t::object_start ||
                               event == nlohmann::json::parse_event_t::array_start;
            if (opens && depth >= max_manifest_depth) too_deep = true;
            return !too_deep;  // nothing more is kept once it is
        };
    nlohmann::json manifest = nlohmann::json::parse(*text, refuse_deep, false, false);
    if (too_deep || !manifest.is_object()) return nlohmann::json::object();
    return manifest;
}

}  // namespace vellumo
