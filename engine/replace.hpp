// Safe replacement of a file that may be in use, and the removal of the
// temporary and backup files it can leave behind. Used by the install (each
// payload file, uninstall.exe, install.json, and the install folder before
// writing), the uninstall, and the result files of the headless modes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace vellumo {

// Suffixes appended to a target's path text: the new bytes are written to
// T.vellumo-new, and a target that cannot be replaced directly is moved aside
// to T.old-<milliseconds since the system started>. With several writers:
// T.<process id>.vellumo-new and T.old-<milliseconds>-<process id>.
inline constexpr char temporary_suffix[] = ".vellumo-new";
inline constexpr char backup_marker[] = ".old-";

// Who may be replacing the same target at the same time.
enum class Writers {
    // This process alone: it holds the single-instance guard.
    one,
    // Other processes too (the check takes no guard). The temporary and backup
    // names then carry the process id, so that no writer takes another's file,
    // and a replacement that another writer's moves get in the way of is tried
    // again.
    several,
};

// Makes `target` hold exactly `bytes`, never writing into the target itself
// nor through a link: a link at the target or at any folder between
// `trusted_root` and it refuses the write (see engine/links.hpp). False with
// one sentence for the user in `error`; `error` is untouched on success.
bool write_file_replacing(const std::filesystem::path& target,
                          const std::filesystem::path& trusted_root,
                          std::span<const std::uint8_t> bytes, std::string& error,
                          Writers writers = Writers::one);

// The same with `text` as a text file: each line break as the platform's text
// files have it (CR LF on Windows), as a text-mode stream would write it.
bool write_text_file_replacing(const std::filesystem::path& target,
                               const std::filesystem::path& trusted_root, const std::string& text,
                               std::string& error, Writers writers = Writers::one);

// The same with the bytes of the file `source`.
bool copy_file_replacing(const std::filesystem::path& source, const std::filesystem::path& target,
                         const std::filesystem::path& trusted_root, std::string& error);

// Deletes the temporary and backup files directly inside `folder` (not in its
// sub-folders). Failures to delete are ignored: a busy backup waits for the
// next run.
void remove_leftovers(const std::filesystem::path& folder);

}  // namespace vellumo
