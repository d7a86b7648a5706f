// The XDG base-directory rules that the Linux stand-ins share: the known
// folders, and the cache folder that holds the private folder's fallback.
// Linux only (no Windows twin): Windows asks for its known folders by id.
#pragma once

#include <filesystem>

namespace vellumo::platform {

// $xdg_variable when it is absolute (the XDG rules ignore a relative value),
// else $HOME/home_relative; empty without an absolute HOME. Read afresh on
// every call, without trailing separators.
std::filesystem::path base_directory(const char* xdg_variable, const char* home_relative);

// Creates `dir` and its missing parents, each private to the user as the XDG
// rules ask. True when `dir` is a directory afterwards (links followed).
bool ensure_directory(const std::filesystem::path& dir);

}  // namespace vellumo::platform
