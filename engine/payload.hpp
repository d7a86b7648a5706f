// The payload pack (resource 102): read, validated, unpacked and verified by
// load_payload for the install job and the --check mode.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vellumo {

struct PayloadPackEntry {
    std::string name;
    std::uint64_t unpacked_size = 0;
    std::uint64_t stored_size = 0;
    std::array<std::uint8_t, 32> sha256{};
    const std::uint8_t* data = nullptr;  // points into the pack's bytes
};

// The message of every pack failure, whatever its cause.
std::string damaged_installer_message();

// Fills payload_files with every entry of ProductInfo::payload_names, unpacked
// and verified. Once it has succeeded it returns true at once. On failure it
// empties payload_files, replaces `error` by the damaged-installer message and
// returns false.
bool load_payload(std::string& error);

}  // namespace vellumo
