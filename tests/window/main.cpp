// Runs the window tests with HOME and every XDG_* folder of the user in a
// fresh temporary folder, so that neither GTK nor WebKit touches the real
// home. The system's data folders stay readable: GIO needs its schemas.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path home = fs::temp_directory_path() / ("vellumo-window-test-" + std::to_string(::getpid()));
    fs::remove_all(home);
    for (const char* name : {"data", "config", "cache", "state", "runtime", "config-dirs"})
        fs::create_directories(home / name);
    fs::permissions(home / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (home / "config-dirs").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", "/usr/local/share:/usr/share", 1);
    ::setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);

    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    fs::remove_all(home, ignored);
    return result;
}
