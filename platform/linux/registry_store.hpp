// The registry stand-in on Linux: one SQLite file per hive, holding a tree of
// keys with typed values. registry.cpp puts the System's registry operations
// on it; tests use it directly to place machine-wide values, which the setup
// itself never writes. Linux only: Windows has the registry itself.
//
// Key paths are '\'-separated, relative to the hive, and end at their first
// null unit (as the C API sees them). The empty path is the hive itself; one
// trailing backslash is ignored; a leading backslash, an empty component or a
// component longer than 255 units makes the path invalid. Names compare with
// every UTF-16 unit upper-cased and keep the case they were created with.
// Sub-keys are listed in the order of their upper-cased names, unit by unit,
// as the registry enumerates them.
//
// A file that is missing reads as an empty hive. A file that is not this
// store (not a database, or someone else's) reads as empty and is never
// written to. Every write is one transaction. A busy store is waited for, up
// to five seconds; once a write has given up waiting, later writes of this
// process do not wait until one gets through again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace vellumo::platform::registry_store {

// Where `root` lives, from the environment as it is at this call:
//   current_user   ${XDG_STATE_HOME:-$HOME/.local/state}/vellumo-setup/hkcu.sqlite3
//   local_machine  <first entry of ${XDG_CONFIG_DIRS:-/etc/xdg}>/vellumo-setup/hklm.sqlite3
// Relative entries are ignored, as the XDG rules ask. Empty when HOME is
// needed and is not an absolute path.
std::filesystem::path hive_file(RegistryRoot root);

struct StoredValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

// Writes. The file and its folder are created by create_key and set_value
// only; every write fails on an invalid path or a file that is not the store.
bool create_key(const std::filesystem::path& file, std::u16string_view key);
bool set_value(const std::filesystem::path& file, std::u16string_view key,
               std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data);
// The key's values and every sub-key below it; the key itself stays.
bool delete_tree(const std::filesystem::path& file, std::u16string_view key);
// The key with its values; fails while it has sub-keys, and for the hive itself.
bool delete_key(const std::filesystem::path& file, std::u16string_view key);

// Reads.
std::optional<StoredValue> get_value(const std::filesystem::path& file, std::u16string_view key,
                                     std::u16string_view name);
bool key_exists(const std::filesystem::path& file, std::u16string_view key);
// Names of the key's sub-keys in enumeration order; nullopt when the key
// cannot be read.
std::optional<std::vector<std::u16string>> subkeys(const std::filesystem::path& file,
                                                   std::u16string_view key);
// Names of the key's values in the order they were first written; nullopt
// when the key cannot be read.
std::optional<std::vector<std::u16string>> value_names(const std::filesystem::path& file,
                                                       std::u16string_view key);

}  // namespace vellumo::platform::registry_store
