// Text, resource and executable-path helpers: the crossings between the
// program's UTF-8 text and the platform's UTF-16 text, resources and paths.
// None of them throws (except when memory runs out).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vellumo {

std::string to_utf8(const std::u16string& wide);
std::u16string to_wide(const std::string& utf8);

// A path's text for messages and JSON, its UTF-16 text for the registry, and
// a path from UTF-16 or UTF-8 text.
std::string path_utf8(const std::filesystem::path& path);
std::u16string path_wide(const std::filesystem::path& path);
std::filesystem::path path_from_wide(const std::u16string& wide);
std::filesystem::path path_from_utf8(const std::string& utf8);

// Whether a path's UTF-8 text gives back the very same path. Not for a Linux
// name that is not UTF-8, nor a Windows name with an unpaired surrogate: their
// text holds U+FFFD instead, which names another file.
bool path_utf8_is_exact(const std::filesystem::path& path);

// Whether two texts are equal with the letters A to Z matched in either case,
// as _wcsicmp compares in the "C" locale the program keeps.
bool equals_ignoring_case(std::u16string_view a, std::u16string_view b);

// Bytes of raw-data resource `id` (101 the page, 102 the payload pack); empty
// when there is none.
std::string load_rcdata_resource(unsigned id);

// The running executable; empty on failure.
std::filesystem::path current_exe_path();

}  // namespace vellumo
