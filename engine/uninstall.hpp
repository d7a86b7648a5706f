// The uninstall job: removes what the install recorded (inside fixed roots),
// the add-on's settings, the Uninstall entry and the setup's own files, then
// prunes the folders left empty.
#pragma once

#include <filesystem>

#include "engine/install.hpp"

namespace vellumo {

JobResult run_uninstall(const ProgressFn& progress);

// Removes `folder` and then each parent while it is an empty directory,
// stopping at `stop`, which is never removed. Nothing when a link stands at
// any folder between `stop` and `folder`, or `folder` does not lie below
// `stop`: the walk never enters a link.
void remove_empty_dirs_upward(std::filesystem::path folder, const std::filesystem::path& stop);

// Whether `path` lies under `root`: its text starts with the root's text and
// a separator, and no component after that is "." or "..". A root without
// text (a known folder that could not be resolved) holds nothing.
bool lies_under_root(const std::filesystem::path& path, const std::filesystem::path& root);

}  // namespace vellumo
