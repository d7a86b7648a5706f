#include "engine/registry.hpp"

#include <array>
#include <span>
#include <vector>

#include "engine/product_info.hpp"

namespace vellumo {
namespace {

constexpr std::size_t get_buffer_bytes = 2048;  // 1023 units and the terminator

// Opens (or creates) the key and sets one value; the outcome is not examined.
void set_value(const std::u16string& subkey, const std::u16string& name,
               platform::RegistryType type, std::span<const std::uint8_t> data) {
    platform::os().registry_set_value(RegistryRoot::current_user,
                                      effective_key_path(RegistryRoot::current_user, subkey), name,
                                      type, data);
}

}  // namespace

std::u16string effective_key_path(RegistryRoot root, const std::u16string& subkey) {
    if (root == RegistryRoot::current_user && !sandbox_root.empty())
        return sandbox_registry_prefix + subkey;
    return subkey;
}

void reg_set_dword(const std::u16string& subkey, const std::u16string& name, std::uint32_t value) {
    const std::array<std::uint8_t, 4> data{
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    set_value(subkey, name, platform::RegistryType::dword, data);
}

void reg_set_string(const std::u16string& subkey, const std::u16string& name,
                    const std::u16string& value) {
    // The text's units and one terminating null unit: 2 * (characters + 1) bytes.
    std::vector<std::uint8_t> data;
    data.reserve(2 * (value.size() + 1));
    for (const char16_t unit : value) {
        data.push_back(static_cast<std::uint8_t>(unit));
        data.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    data.insert(data.end(), 2, 0);
    set_value(subkey, name, platform::RegistryType::string, data);
}

void reg_delete_key_tree(const std::u16string& subkey) {
    auto& os = platform::os();
    os.registry_delete_tree(RegistryRoot::current_user,
                            effective_key_path(RegistryRoot::current_user, subkey));
    os.registry_delete_key(RegistryRoot::current_user,
                           effective_key_path(RegistryRoot::current_user, subkey));
}

std::u16string reg_get_string(RegistryRoot root, const std::u16string& subkey,
                              const std::u16string& name) {
    std::u16string value;
    if (!platform::os().registry_get_string(root, effective_key_path(root, subkey), name,
                                            get_buffer_bytes, value))
        return {};
    return value;
}

}  // namespace vellumo
