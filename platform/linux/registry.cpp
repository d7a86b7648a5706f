// The System's registry operations on the SQLite stand-in (registry_store.hpp).
// HKEY_LOCAL_MACHINE is read-only, as it is for a per-user setup without
// administrator rights.
#include "platform/linux/registry_store.hpp"

namespace vellumo::platform {
namespace {

namespace store = registry_store;

bool writable(RegistryRoot root) { return root == RegistryRoot::current_user; }

}  // namespace

bool System::registry_set_value(RegistryRoot root, std::u16string_view key,
                                std::u16string_view name, RegistryType type,
                                std::span<const std::uint8_t> data) {
    return writable(root) && store::set_value(store::hive_file(root), key, name,
                                              static_cast<std::uint32_t>(type), data);
}

bool System::registry_delete_tree(RegistryRoot root, std::u16string_view key) {
    return writable(root) && store::delete_tree(store::hive_file(root), key);
}

bool System::registry_delete_key(RegistryRoot root, std::u16string_view key) {
    return writable(root) && store::delete_key(store::hive_file(root), key);
}

bool System::registry_get_string(RegistryRoot root, std::u16string_view key,
                                 std::u16string_view name, std::size_t buffer_bytes,
                                 std::u16string& value) {
    value.clear();
    const auto stored = store::get_value(store::hive_file(root), key, name);
    if (!stored || stored->type != static_cast<std::uint32_t>(RegistryType::string)) return false;

    // RegGetValueW adds the terminator that stored data lacks, and the buffer
    // must hold it too.
    const auto& data = stored->data;
    const std::size_t size = data.size();
    const bool terminated = size >= 2 && size % 2 == 0 && data[size - 2] == 0 && data[size - 1] == 0;
    if ((terminated ? size : size + 2) > buffer_bytes) return false;

    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0) break;
        value += unit;
    }
    return true;
}

bool System::registry_key_exists(RegistryRoot root, std::u16string_view key) {
    return store::key_exists(store::hive_file(root), key);
}

bool System::registry_enum_subkey(RegistryRoot root, std::u16string_view key,
                                  std::uint32_t index, std::size_t name_capacity,
                                  std::u16string& name) {
    const auto names = store::subkeys(store::hive_file(root), key);
    if (!names || index >= names->size()) return false;
    const std::u16string& found = (*names)[index];
    if (found.size() >= name_capacity) return false;  // no room for the terminator
    name = found;
    return true;
}

}  // namespace vellumo::platform
