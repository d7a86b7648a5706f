// A hermetic environment for one test: a fresh temporary folder, with HOME and
// every XDG_* variable pointing into it. Every variable changed through it is
// restored, the current folder given back (a test may have gone into the
// folder), and the folder removed, when it goes.
//
//   HOME <root>/home and XDG_RUNTIME_DIR <root>/runtime (0700) are created;
//   XDG_DATA_HOME <root>/data, XDG_CONFIG_HOME <root>/config,
//   XDG_STATE_HOME <root>/state, XDG_CACHE_HOME <root>/cache,
//   XDG_DATA_DIRS <root>/data-dirs and XDG_CONFIG_DIRS <root>/config-dirs are
//   named but not made: the code under test creates what it needs.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

extern "C" char** environ;

namespace vellumo::test {

class HermeticEnv {
public:
    HermeticEnv() {
        namespace fs = std::filesystem;
        std::string pattern = (fs::temp_directory_path() / "vellumo-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;

        for (const std::string& name : variables_starting_with("XDG_")) unset(name);
        fs::create_directory(root_ / "home");
        fs::create_directory(root_ / "runtime");
        fs::permissions(root_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        set("HOME", root_ / "home");
        set("XDG_RUNTIME_DIR", root_ / "runtime");
        // Named but not made: the code under test creates what it needs.
        set("XDG_DATA_HOME", root_ / "data");
        set("XDG_CONFIG_HOME", root_ / "config");
        set("XDG_STATE_HOME", root_ / "state");
        set("XDG_CACHE_HOME", root_ / "cache");
        set("XDG_DATA_DIRS", root_ / "data-dirs");
        set("XDG_CONFIG_DIRS", root_ / "config-dirs");
    }

    ~HermeticEnv() {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        std::error_code ignored;
        std::filesystem::current_path(starting_folder_, ignored);
        std::filesystem::remove_all(root_, ignored);
    }

    HermeticEnv(const HermeticEnv&) = delete;
    HermeticEnv& operator=(const HermeticEnv&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path home() const { return root_ / "home"; }

    void set(const std::string& name, const std::filesystem::path& value) {
        remember(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string& name) {
        remember(name);
        ::unsetenv(name.c_str());
    }

private:
    static std::vector<std::string> variables_starting_with(const std::string& prefix) {
        std::vector<std::string> names;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            if (text.starts_with(prefix)) names.push_back(text.substr(0, text.find('=')));
        }
        return names;
    }

    // Keeps the value from before the first change only.
    void remember(const std::string& name) {
        if (saved_.contains(name)) return;
        const char* value = std::getenv(name.c_str());
        saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }

    std::filesystem::path starting_folder_ = [] {
        std::error_code unknown;  // then there is nothing to go back to
        return std::filesystem::current_path(unknown);
    }();
    std::filesystem::path root_;
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace vellumo::test
