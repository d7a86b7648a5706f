// The two records a finished install leaves: the per-user Uninstall entry in
// the registry and install.json in the install folder. Written by run_install;
// install.json is read back by run_uninstall and the setup information.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

namespace vellumo {

// The Uninstall entry's key under HKEY_CURRENT_USER, without sandbox prefix.
std::u16string uninstall_key_path();

// Deletes the Uninstall key and writes its eleven values for `install_folder`.
void write_uninstall_entry(const std::filesystem::path& install_folder);

// Size of the regular files directly in `folder`, in KiB rounded down; 0 when
// the folder cannot be listed.
std::uint32_t estimated_size_kib(const std::filesystem::path& folder);

// Adds "registry", "product" and "version" to a manifest whose "files" the
// install has filled.
void complete_manifest(nlohmann::json& manifest);

// Writes install.json into `install_folder` by safe replacement, never
// through a link below `trusted_root`; false when it is not completely written.
bool write_install_manifest(const std::filesystem::path& install_folder,
                            const std::filesystem::path& trusted_root,
                            const nlohmann::json& manifest);

// The JSON of install.json; an empty object when the file is missing,
// unreadable, malformed or not an object.
nlohmann::json load_install_manifest();

// The install.json text: two-space indent, UTF-8 unescaped, no final newline.
std::string manifest_text(const nlohmann::json& manifest);

}  // namespace vellumo
