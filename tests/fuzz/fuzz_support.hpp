// Shared by the fuzz targets: a scratch folder for the process and the input
// read as UTF-16 units. A target reports a broken rule with `require`, which
// aborts so that libFuzzer keeps the input as a crash.
#pragma once

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace vellumo::fuzz {

inline void require(bool rule, const char* what) {
    if (rule) return;
    std::fprintf(stderr, "rule broken: %s\n", what);
    std::abort();
}

// A folder of this process's own below the temporary folder, made once and
// left behind: run-target points TMPDIR at a folder it removes afterwards.
inline const std::filesystem::path& scratch_folder() {
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vellumo-fuzz-XXXXXX").string();
        require(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
        return std::filesystem::path(pattern);
    }();
    return folder;
}

// Pairs of bytes, little-endian; an odd last byte is dropped.
inline std::u16string utf16_units(const std::uint8_t* data, std::size_t size) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    return text;
}

}  // namespace vellumo::fuzz
