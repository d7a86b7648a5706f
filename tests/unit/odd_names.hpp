// Folders whose names are not UTF-8 (a Latin-1 byte), and the install that
// an earlier setup left in one: its install.json held U+FFFD where the byte
// was, since a recorded path was its lossy UTF-8 text.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hermetic_env.hpp"

namespace vellumo::test {

// A folder named "Ren" and a Latin-1 "é" in `parent`: no UTF-8 text holds
// that byte alone.
inline std::filesystem::path odd_folder(const std::filesystem::path& parent) {
    return parent / "Ren\xE9";
}

// HOME at `home`, and the local and roaming folders in it, where they lie
// without their XDG variables.
inline void set_home(HermeticEnv& env, const std::filesystem::path& home) {
    env.set("HOME", home);
    env.unset("XDG_DATA_HOME");
    env.unset("XDG_CONFIG_HOME");
}

// A path's text with U+FFFD in place of each Latin-1 "é".
inline std::string with_replacement_characters(const std::filesystem::path& path) {
    std::string text;
    for (const char c : path.native()) {
        if (c == '\xE9')
            text += "\xEF\xBF\xBD";
        else
            text += c;
    }
    return text;
}

// The three payload files, uninstall.exe and the install.json of an earlier
// install into `install_folder` and `scripts_folder`, its paths recorded
// with U+FFFD; `extra_records` go into the record after them.
inline void plant_earlier_install(const std::filesystem::path& install_folder,
                                  const std::filesystem::path& scripts_folder,
                                  const std::vector<std::string>& extra_records = {}) {
    namespace fs = std::filesystem;
    const std::vector<fs::path> files = {install_folder / "VellumoCompanion.exe",
                                         scripts_folder / "Vellumo.py", install_folder / "SETUP.md"};
    nlohmann::json recorded = nlohmann::json::array();
    for (const fs::path& file : files) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << "installed";
        recorded.push_back(with_replacement_characters(file));
    }
    for (const std::string& record : extra_records) recorded.push_back(record);
    std::ofstream(install_folder / "uninstall.exe", std::ios::binary) << "uninstaller";
    std::ofstream(install_folder / "install.json", std::ios::binary)
        << nlohmann::json{{"files", recorded}, {"shortcuts", nlohmann::json::array()},
                          {"version", "0.4.4"}}
               .dump(2);
}

}  // namespace vellumo::test
