// The process globals. Defined together, in this order, so that C++ builds them
// in this order and destroys them in reverse: payload_files first,
// product_info last.
#include "engine/product_info.hpp"

namespace vellumo {

ProductInfo product_info;
std::filesystem::path sandbox_root;
std::u16string uninstall_key_prefix;
PayloadFiles payload_files;

bool silent_mode = false;
bool uninstall_mode = false;

void init_product_info(ProductInfo& info) {
    info.kind = "resolve";
    info.name = "Vellumo for DaVinci Resolve";
    info.version = "0.4.4";
    info.tagline =
        "Caption your timeline in Vellumo and send every styled word straight back to Resolve.";
    info.short_name = "Vellumo";
    info.folder_name = u"Vellumo for DaVinci Resolve";
    info.uninstall_key_name = u"{6F1D9C52-6D9E-4B7E-9C0A-3B8E2C7A41F5}_is1";
    info.companion_exe = u"VellumoCompanion.exe";
    info.mutex_name = u"Local\\VellumoSetupResolve";
    info.payload_names = {"VellumoCompanion.exe", "Vellumo.py", "SETUP.md"};
    info.blocking_processes = {u"VellumoCompanion.exe"};
    info.components = {
        {"window", "Vellumo window", "The caption studio that opens from Resolve.", false, true},
        {"script", "Resolve script", "Adds Workspace > Scripts > Vellumo to DaVinci Resolve.",
         false, true},
    };
}

namespace {

// Runs after the definitions above in this translation unit's static
// initialisation, before main.
bool init_globals() {
    init_product_info(product_info);
    sandbox_root.clear();
    uninstall_key_prefix = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    payload_files.clear();
    return true;
}

[[maybe_unused]] const bool globals_ready = init_globals();

}  // namespace

}  // namespace vellumo
