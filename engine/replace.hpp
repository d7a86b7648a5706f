// Safe replacement of an installed file that may be in use, and the removal of
// the temporary and backup files it can leave behind. Used by the install
// (each payload file, and the install folder before writing) and the uninstall.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vellumo {

// Suffixes appended to a target's path text: the new bytes are written to
// T.vellumo-new, and a target that cannot be replaced directly is moved aside
// to T.old-<milliseconds since the system started>.
inline constexpr char temporary_suffix[] = ".vellumo-new";
inline constexpr char backup_marker[] = ".old-";

// Makes `target` hold exactly `bytes`, never writing into the target itself.
// False with one sentence for the user in `error`; `error` is untouched on
// success.
bool write_file_replacing(const std::filesystem::path& target,
                          const std::vector<std::uint8_t>& bytes, std::string& error);

// Deletes the temporary and backup files directly inside `folder` (not in its
// sub-folders). Failures to delete are ignored: a busy backup waits for the
// next run.
void remove_leftovers(const std::filesystem::path& folder);

}  // namespace vellumo
