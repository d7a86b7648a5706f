// A hermetic environment for tests: HOME and every XDG base-directory variable
// point into a fresh temporary folder for the object's lifetime; the previous
// values come back and the folder is removed afterwards.
//
//   test::HermeticEnv env;              // as a member of a fixture, or a local
//   env.home()                          // <root>/home, created
//   XDG_DATA_HOME    <root>/data        XDG_CONFIG_HOME  <root>/config
//   XDG_STATE_HOME   <root>/state       XDG_CACHE_HOME   <root>/cache
//   XDG_DATA_DIRS    <root>/data-dirs   XDG_CONFIG_DIRS  <root>/config-dirs
//   XDG_RUNTIME_DIR  <root>/runtime, created with mode 0700
//   env.set(name, value) / env.unset(name): changed for this test only
//
// Apart from home and runtime the folders are not created, so the code under
// test shows that it creates what it needs.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace vellumo::test {

class HermeticEnv {
public:
    HermeticEnv() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vellumo-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "no temporary folder";
        root_ = pattern;
        std::filesystem::create_directories(home());
        ::mkdir((root_ / "runtime").c_str(), 0700);
        set("HOME", home().string());
        set("XDG_DATA_HOME", (root_ / "data").string());
        set("XDG_CONFIG_HOME", (root_ / "config").string());
        set("XDG_STATE_HOME", (root_ / "state").string());
        set("XDG_CACHE_HOME", (root_ / "cache").string());
        set("XDG_DATA_DIRS", (root_ / "data-dirs").string());
        set("XDG_CONFIG_DIRS", (root_ / "config-dirs").string());
        set("XDG_RUNTIME_DIR", (root_ / "runtime").string());
    }

    ~HermeticEnv() {
        for (const auto& [name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    HermeticEnv(const HermeticEnv&) = delete;
    HermeticEnv& operator=(const HermeticEnv&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path home() const { return root_ / "home"; }

    void set(const std::string& name, const std::string& value) {
        save(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string& name) {
        save(name);
        ::unsetenv(name.c_str());
    }

private:
    // Keeps the value from before the first change only.
    void save(const std::string& name) {
        if (saved_.contains(name)) return;
        const char* value = std::getenv(name.c_str());
        saved_.emplace(name, value ? std::optional<std::string>(value) : std::nullopt);
    }

    std::filesystem::path root_;
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace vellumo::test
