// Registry access for the install, the uninstall and the detections. Every
// write and delete goes to HKEY_CURRENT_USER; in sandbox mode every
// HKEY_CURRENT_USER key lies below sandbox_registry_prefix.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.hpp"

namespace vellumo {

using platform::RegistryRoot;

inline constexpr char16_t sandbox_registry_prefix[] = u"Software\\Vellumo\\SetupSandbox\\";

// The key path the registry sees for `subkey` under `root`: the sandbox prefix
// first when root is HKEY_CURRENT_USER and sandbox_root is set.
std::u16string effective_key_path(RegistryRoot root, const std::u16string& subkey);

void reg_set_dword(const std::u16string& subkey, const std::u16string& name, std::uint32_t value);
void reg_set_string(const std::u16string& subkey, const std::u16string& name,
                    const std::u16string& value);
void reg_delete_key_tree(const std::u16string& subkey);
// The string value, or empty on any failure (missing, not a string, too long).
std::u16string reg_get_string(RegistryRoot root, const std::u16string& subkey,
                              const std::u16string& name);

}  // namespace vellumo
