// Registry contents for tests, written straight into the stand-in's store for
// either hive, as the environment is at the call (so use a HermeticEnv
// first). The setup itself never writes HKEY_LOCAL_MACHINE; these are how a
// test places what a detection should find there. Key paths are full paths
// below the hive: no sandbox prefix is added.
//
//   test::write_registry_string(RegistryRoot::local_machine,
//                               u"Software\\Python\\PythonCore\\3.12\\InstallPath",
//                               u"ExecutablePath", u"/opt/py/python.exe");
//   test::write_registry_dword(root, key, name, 1);
//   test::create_registry_key(root, key);            // a key without values
//   test::read_registry_value(root, key, name)       // type and raw bytes
//   test::registry_value_names(root, key)            // in the order written
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/linux/registry_store.hpp"
#include "platform/platform.hpp"

namespace vellumo::test {

using platform::RegistryRoot;
using platform::registry_store::StoredValue;

// REG_SZ data: the text's UTF-16 LE units and a terminating null unit.
inline std::vector<std::uint8_t> string_data(std::u16string_view text) {
    std::vector<std::uint8_t> data;
    for (const char16_t unit : text) {
        data.push_back(static_cast<std::uint8_t>(unit));
        data.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    data.insert(data.end(), 2, 0);
    return data;
}

inline bool write_registry_value(RegistryRoot root, std::u16string_view key,
                                 std::u16string_view name, std::uint32_t type,
                                 const std::vector<std::uint8_t>& data) {
    namespace store = platform::registry_store;
    return store::set_value(store::hive_file(root), key, name, type, data);
}

inline bool write_registry_string(RegistryRoot root, std::u16string_view key,
                                  std::u16string_view name, std::u16string_view text) {
    return write_registry_value(root, key, name,
                                static_cast<std::uint32_t>(platform::RegistryType::string),
                                string_data(text));
}

inline bool write_registry_dword(RegistryRoot root, std::u16string_view key,
                                 std::u16string_view name, std::uint32_t value) {
    return write_registry_value(
        root, key, name, static_cast<std::uint32_t>(platform::RegistryType::dword),
        {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
         static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

inline bool create_registry_key(RegistryRoot root, std::u16string_view key) {
    namespace store = platform::registry_store;
    return store::create_key(store::hive_file(root), key);
}

inline std::optional<StoredValue> read_registry_value(RegistryRoot root, std::u16string_view key,
                                                      std::u16string_view name) {
    namespace store = platform::registry_store;
    return store::get_value(store::hive_file(root), key, name);
}

// The key's value names in the order they were written; nullopt for no key.
inline std::optional<std::vector<std::u16string>> registry_value_names(RegistryRoot root,
                                                                       std::u16string_view key) {
    namespace store = platform::registry_store;
    return store::value_names(store::hive_file(root), key);
}

}  // namespace vellumo::test
