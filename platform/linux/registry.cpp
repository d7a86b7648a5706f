// The registry stand-in on Linux.
#include "platform/platform.hpp"

namespace vellumo::platform {

bool System::registry_set_value(RegistryRoot, std::u16string_view, std::u16string_view,
                                RegistryType, std::span<const std::uint8_t>) {
    return false;
}
bool System::registry_delete_tree(RegistryRoot, std::u16string_view) { return false; }
bool System::registry_delete_key(RegistryRoot, std::u16string_view) { return false; }
bool System::registry_get_string(RegistryRoot, std::u16string_view, std::u16string_view,
                                 std::size_t, std::u16string&) {
    return false;
}
bool System::registry_key_exists(RegistryRoot, std::u16string_view) { return false; }
bool System::registry_enum_subkey(RegistryRoot, std::u16string_view, std::uint32_t, std::size_t,
                                  std::u16string&) {
    return false;
}

}  // namespace vellumo::platform
