// The product descriptor and the process globals that several modules share.
// Built during static initialisation (globals.cpp), before main runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vellumo {

// The maker's addresses, the one place that names them.
inline constexpr const char* maker_domain = "vellumo.app";
inline constexpr const char* maker_home_page = "https://vellumo.app/";
inline constexpr const char* maker_download_page = "https://vellumo.app/download";

struct Component {
    std::string id;
    std::string label;
    std::string detail;
    bool optional = false;
    bool on = false;
};

struct ProductInfo {
    std::string kind;
    std::string name;
    std::string version;
    std::string tagline;
    std::string short_name;
    std::u16string folder_name;
    std::u16string uninstall_key_name;
    std::u16string companion_exe;
    std::u16string mutex_name;
    std::vector<std::string> payload_names;
    std::vector<std::u16string> blocking_processes;
    std::vector<Component> components;
};

using PayloadFiles = std::map<std::string, std::vector<std::uint8_t>>;

void init_product_info(ProductInfo& info);

// Process globals, in the order they are built; destroyed in reverse.
extern ProductInfo product_info;
extern std::filesystem::path sandbox_root;       // empty: no sandbox
extern std::u16string uninstall_key_prefix;      // ends with a backslash
extern PayloadFiles payload_files;               // filled by load_payload

extern bool silent_mode;
extern bool uninstall_mode;

}  // namespace vellumo
