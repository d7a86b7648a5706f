#include "app/setup_info.hpp"

#include "engine/detection.hpp"
#include "engine/install_record.hpp"
#include "engine/locations.hpp"
#include "engine/product_info.hpp"
#include "engine/text.hpp"

namespace vellumo {
namespace {

// The record's "version" when it is a string; "" otherwise, a record written
// by something else included (a number there must not end the request).
std::string installed_version(const nlohmann::json& record) {
    const auto version = record.find("version");
    if (version == record.end() || !version->is_string()) return {};
    return version->get<std::string>();
}

}  // namespace

nlohmann::json build_setup_info() {
    const nlohmann::json record = load_install_manifest();

    nlohmann::json components = nlohmann::json::array();
    for (const Component& component : product_info.components) {
        components.push_back({{"id", component.id},
                              {"label", component.label},
                              {"detail", component.detail},
                              {"optional", component.optional},
                              {"on", component.on}});
    }

    nlohmann::json found = nlohmann::json::object();
    found["resolve"] = detect_resolve();  // Resolve first, then Python
    found["python"] = detect_python();

    nlohmann::json info = nlohmann::json::object();
    info["components"] = std::move(components);
    info["found"] = std::move(found);
    info["mode"] = uninstall_mode ? "uninstall" : "install";
    info["kind"] = product_info.kind;
    info["name"] = product_info.name;
    info["version"] = product_info.version;
    info["tagline"] = product_info.tagline;
    info["installed"] = installed_version(record);
    info["folder"] = path_utf8(install_dir());  // the native text, as UTF-8
    return info;
}

std::string on_setup_info(const std::string& /*request*/) {
    return build_setup_info().dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

}  // namespace vellumo
