#include "app/bindings.hpp"

#include <map>

#include <nlohmann/json.hpp>

#include "engine/locations.hpp"
#include "engine/product_info.hpp"
#include "engine/text.hpp"
#include "platform/platform.hpp"

namespace vellumo {

std::optional<std::string> single_string_argument(const std::string& request) {
    const nlohmann::json args = nlohmann::json::parse(request, nullptr, false, false);
    if (!args.is_array() || args.size() != 1 || !args[0].is_string()) return std::nullopt;
    return args[0].get<std::string>();
}

std::string on_setup_open(const std::string& request) {
    const std::optional<std::string> target = single_string_argument(request);
    if (!target) return "null";
    static const std::map<std::string, std::u16string> link_targets = {
        {"help", to_wide(maker_download_page)},
        {"python", u"https://www.python.org/downloads/windows/"},
        {"site", to_wide(maker_home_page)},
    };
    auto& os = platform::os();
    if (*target == "app") {
        const std::filesystem::path folder = install_dir();
        os.open_with_default_handler(path_wide(folder / path_from_wide(product_info.companion_exe)),
                                     folder);
    } else if (*target == "folder") {
        os.open_with_default_handler(path_wide(install_dir()), {});
    } else if (const auto link = link_targets.find(*target); link != link_targets.end()) {
        os.open_with_default_handler(link->second, {});
    }
    return "null";
}

std::string on_setup_window(const std::string& request, void* window,
                            const std::function<void()>& terminate,
                            const std::atomic<bool>& busy) {
    const std::string action = single_string_argument(request).value_or("");
    if (window == nullptr) return "null";
    if (action == "drag") {
        platform::os().begin_window_drag(window);
    } else if (action == "minimize") {
        platform::os().minimize_window(window);
    } else if (action == "close" && !busy.load()) {
        terminate();
    }
    return "null";
}

}  // namespace vellumo
