#include "engine/detection.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/product_info.hpp"
#include "engine/text.hpp"
#include "hermetic_env.hpp"
#include "platform/platform.hpp"
#include "process_helpers.hpp"
#include "registry_fixture.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using platform::path_to_wide;
using platform::RegistryRoot;
using Start = std::vector<std::string>;  // the started file, then its arguments
using Starts = std::vector<Start>;

constexpr auto hkcu = RegistryRoot::current_user;
constexpr auto hklm = RegistryRoot::local_machine;
constexpr char16_t python_core[] = u"Software\\Python\\PythonCore";
constexpr char16_t python_core_wow[] = u"Software\\WOW6432Node\\Python\\PythonCore";
constexpr char probe_script[] =
    "import sys,struct;sys.exit(0 if sys.version_info >= (3,8) and struct.calcsize('P') == 8 "
    "else 1)";

enum class Answer { passes, fails, crashes, hangs, folder };

// One hermetic computer: its own HOME, XDG folders and registry, an empty
// PATH, Program Files in the temporary folder, a current folder of its own,
// and a log that every fake interpreter appends its start to. The
// interpreters use shell built-ins and full paths only: PATH is the test's.
class Scene {
public:
    Scene() {
        env.set("PATH", "");
        env.set("VELLUMO_PROBE_LOG", (root / "probe.log").string());
        env.set("ProgramW6432", (root / "Program Files").string());
        fs::create_directories(root / "cwd");
        fs::current_path(root / "cwd");
    }
    ~Scene() { fs::current_path(previous_folder_); }

    // `text` with a leading "@" standing for the scene's folder.
    std::string at(const std::string& text) const {
        return text.starts_with('@') ? root.string() + text.substr(1) : text;
    }

    void set_path(const std::vector<std::string>& entries) {
        std::string value;
        for (const auto& entry : entries) value += (value.empty() ? "" : ":") + at(entry);
        env.set("PATH", value);
    }

    // A fake interpreter at `file` ("@/..."), answering as asked.
    fs::path interpreter(const std::string& file, Answer answer) const {
        const fs::path path = at(file);
        if (answer == Answer::folder) {
            fs::create_directories(path);
            return path;
        }
        const char* ending = answer == Answer::passes    ? "exit 0"
                             : answer == Answer::fails   ? "exit 1"
                             : answer == Answer::crashes ? "kill -KILL $$"
                                                         : "/bin/sleep 600 & echo $! > \"$0.sleeper\"\nwait";
        test::write_script(path,
                           "{ printf '%s' \"$0\"; printf '\\t%s' \"$@\"; printf '\\n'; } >> "
                           "\"$VELLUMO_PROBE_LOG\"\n" +
                               std::string(ending));
        return path;
    }

    // The probes started so far, in order.
    Starts starts() const {
        Starts result;
        std::istringstream log(test::read_text(root / "probe.log"));
        for (std::string line; std::getline(log, line);) {
            Start start;
            std::istringstream fields(line);
            for (std::string field; std::getline(fields, field, '\t');) start.push_back(field);
            result.push_back(start);
        }
        return result;
    }

    // What a probe of `file` ("@/...") looks like in the log.
    Start probe_of(const std::string& file, bool launcher = false) const {
        Start start{at(file)};
        if (launcher) start.push_back("-3");
        for (const char* argument : {"-I", "-S", "-c", probe_script}) start.push_back(argument);
        return start;
    }

    // A version registration of PEP 514 under `key`.
    void register_python(RegistryRoot hive, const std::u16string& key, const std::u16string& version,
                         const std::optional<std::string>& executable_path,
                         const std::optional<std::string>& folder = std::nullopt) const {
        const std::u16string install_path = key + u"\\" + version + u"\\InstallPath";
        ASSERT_TRUE(test::create_registry_key(hive, install_path));
        if (executable_path) {
            ASSERT_TRUE(test::write_registry_string(hive, install_path, u"ExecutablePath",
                                                    to_wide(at(*executable_path))));
        }
        if (folder) {
            ASSERT_TRUE(test::write_registry_string(hive, install_path, u"", to_wide(at(*folder))));
        }
    }

    test::HermeticEnv env;
    const fs::path root = env.root();

private:
    fs::path previous_folder_ = fs::current_path();
};

// Every test leaves sandbox_root as it found it.
class Detection : public ::testing::Test {
protected:
    ~Detection() override { sandbox_root = previous_sandbox_; }

private:
    fs::path previous_sandbox_ = sandbox_root;
};

// Forwards to the real system and notes each registry read and path search.
class RecordingSystem : public platform::System {
public:
    bool registry_get_string(RegistryRoot root, std::u16string_view key, std::u16string_view name,
                             std::size_t buffer_bytes, std::u16string& value) override {
        note("read", root, key, name);
        return System::registry_get_string(root, key, name, buffer_bytes, value);
    }
    bool registry_key_exists(RegistryRoot root, std::u16string_view key) override {
        note("open", root, key, u"");
        return System::registry_key_exists(root, key);
    }
    bool registry_enum_subkey(RegistryRoot root, std::u16string_view key, std::uint32_t index,
                              std::size_t capacity, std::u16string& name) override {
        note("enum", root, key, u"");
        return System::registry_enum_subkey(root, key, index, capacity, name);
    }
    fs::path search_path(std::u16string_view file_name) override {
        calls.push_back("search " + to_utf8(std::u16string(file_name)));
        return System::search_path(file_name);
    }

    std::vector<std::string> calls;

private:
    void note(const char* what, RegistryRoot root, std::u16string_view key,
              std::u16string_view name) {
        calls.push_back(std::string(what) + (root == hkcu ? " HKCU\\" : " HKLM\\") +
                        to_utf8(std::u16string(key)) + " [" + to_utf8(std::u16string(name)) + "]");
    }
};

// ---- Python ---------------------------------------------------------------------

TEST_F(Detection, ProbeArgumentsReachTheInterpreterByteForByte) {
    EXPECT_EQ(std::char_traits<char16_t>::length(python_probe_arguments), 106u);

    Scene scene;
    scene.interpreter("@/bin/python.exe", Answer::passes);
    scene.set_path({"@/bin"});
    EXPECT_TRUE(detect_python());
    EXPECT_EQ(scene.starts(), Starts{scene.probe_of("@/bin/python.exe")});
}

struct Planted {
    std::string file;
    Answer answer;
};

struct SearchCase {
    const char* what;
    std::vector<Planted> planted;
    std::vector<std::string> path;
    bool expected;
    std::vector<std::pair<std::string, bool>> started;  // file, started as the launcher
};

TEST_F(Detection, PythonFromTheSearchPath) {
    const SearchCase cases[] = {
        {"python.exe passes", {{"@/a/python.exe", Answer::passes}}, {"@/a"}, true,
         {{"@/a/python.exe", false}}},
        {"failing python.exe, then py.exe with -3",
         {{"@/a/python.exe", Answer::fails}, {"@/b/py.exe", Answer::passes}}, {"@/a", "@/b"}, true,
         {{"@/a/python.exe", false}, {"@/b/py.exe", true}}},
        {"only py.exe", {{"@/b/py.exe", Answer::passes}}, {"@/a", "@/b"}, true,
         {{"@/b/py.exe", true}}},
        {"failing py.exe", {{"@/a/py.exe", Answer::fails}}, {"@/a"}, false, {{"@/a/py.exe", true}}},
        {"only the first python.exe on the path is tried",
         {{"@/a/python.exe", Answer::fails}, {"@/b/python.exe", Answer::passes}}, {"@/a", "@/b"},
         false, {{"@/a/python.exe", false}}},
        {"a crashing interpreter is unsuitable",
         {{"@/a/python.exe", Answer::crashes}, {"@/a/py.exe", Answer::passes}}, {"@/a"}, true,
         {{"@/a/python.exe", false}, {"@/a/py.exe", true}}},
        {"a folder named python.exe is found and not started",
         {{"@/a/python.exe", Answer::folder}, {"@/b/python.exe", Answer::passes}}, {"@/a", "@/b"},
         false, {}},
        {"WindowsApps is never started",
         {{"@/WindowsApps/python.exe", Answer::passes}, {"@/WindowsApps/py.exe", Answer::passes}},
         {"@/WindowsApps"}, false, {}},
        {"windowsapps in lower case is",
         {{"@/windowsapps/python.exe", Answer::passes}}, {"@/windowsapps"}, true,
         {{"@/windowsapps/python.exe", false}}},
        {"WINDOWSAPPS in upper case is",
         {{"@/WINDOWSAPPS/python.exe", Answer::fails}, {"@/WINDOWSAPPS/py.exe", Answer::passes}},
         {"@/WINDOWSAPPS"}, true,
         {{"@/WINDOWSAPPS/python.exe", false}, {"@/WINDOWSAPPS/py.exe", true}}},
        {"one planted in the current folder is never started",
         {{"@/cwd/python.exe", Answer::passes}, {"@/cwd/py.exe", Answer::passes},
          {"@/cwd/rel/python.exe", Answer::passes}},
         {"", ".", "rel"}, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        for (const auto& p : c.planted) scene.interpreter(p.file, p.answer);
        scene.set_path(c.path);
        Starts expected_starts;
        for (const auto& [file, launcher] : c.started)
            expected_starts.push_back(scene.probe_of(file, launcher));

        EXPECT_EQ(detect_python(), c.expected);
        EXPECT_EQ(scene.starts(), expected_starts);
    }
}

TEST_F(Detection, HangingInterpreterIsKilledAndDetectionGoesOn) {
    Scene scene;
    scene.interpreter("@/a/python.exe", Answer::hangs);
    scene.interpreter("@/a/py.exe", Answer::passes);
    scene.set_path({"@/a"});

    EXPECT_TRUE(detect_python());
    EXPECT_EQ(scene.starts(), (Starts{scene.probe_of("@/a/python.exe"),
                                           scene.probe_of("@/a/py.exe", true)}));
    EXPECT_FALSE(test::has_children());
    const std::string sleeper = test::read_text(scene.root / "a" / "python.exe.sleeper");
    ASSERT_FALSE(sleeper.empty());
    EXPECT_TRUE(test::process_ends(std::stoi(sleeper)));
}

struct SandboxPythonCase {
    const char* what;
    std::optional<Answer> sandboxed;
    bool expected;
};

TEST_F(Detection, PythonInSandboxModeIsOnlyTheSandboxedOne) {
    const SandboxPythonCase cases[] = {
        {"sandboxed python.exe passes", Answer::passes, true},
        {"sandboxed python.exe fails", Answer::fails, false},
        {"none in the sandbox", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        scene.interpreter("@/registered/python.exe", Answer::passes);
        scene.register_python(hkcu, python_core, u"3.12", std::nullopt, "@/registered");
        scene.register_python(hklm, python_core, u"3.12", "@/registered/python.exe");
        scene.interpreter("@/bin/python.exe", Answer::passes);
        scene.interpreter("@/bin/py.exe", Answer::passes);
        scene.set_path({"@/bin"});
        sandbox_root = scene.root / "sandbox";
        const std::string sandboxed = "@/sandbox/ProgramFiles/Python/python.exe";
        if (c.sandboxed) scene.interpreter(sandboxed, *c.sandboxed);

        RecordingSystem recording;
        const platform::ScopedSystem scoped(recording);
        EXPECT_EQ(detect_python(), c.expected);
        EXPECT_EQ(scene.starts(), c.sandboxed ? Starts{scene.probe_of(sandboxed)}
                                              : Starts{});
        EXPECT_EQ(recording.calls, std::vector<std::string>{});
    }
}

TEST_F(Detection, PythonRegistrationsComeInHiveAndKeyOrderBeforeTheSearchPath) {
    Scene scene;
    const std::vector<std::tuple<RegistryRoot, const char16_t*, std::string>> registrations{
        {hkcu, python_core, "@/hkcu-core"},
        {hkcu, python_core_wow, "@/hkcu-wow"},
        {hklm, python_core, "@/hklm-core"},
        {hklm, python_core_wow, "@/hklm-wow"},
    };
    // Written in reverse, so that the order found is not the order written.
    for (auto it = registrations.rbegin(); it != registrations.rend(); ++it) {
        const auto& [hive, key, folder] = *it;
        scene.interpreter(folder + "/python.exe", Answer::fails);
        scene.register_python(hive, key, u"3.11", std::nullopt, folder);
    }
    scene.interpreter("@/bin/python.exe", Answer::fails);
    scene.interpreter("@/bin/py.exe", Answer::fails);
    scene.set_path({"@/bin"});

    EXPECT_FALSE(detect_python());
    EXPECT_EQ(scene.starts(), (std::vector{
                                  scene.probe_of("@/hkcu-core/python.exe"),
                                  scene.probe_of("@/hkcu-wow/python.exe"),
                                  scene.probe_of("@/hklm-core/python.exe"),
                                  scene.probe_of("@/hklm-wow/python.exe"),
                                  scene.probe_of("@/bin/python.exe"),
                                  scene.probe_of("@/bin/py.exe", true),
                              }));
}

TEST_F(Detection, PythonVersionsThatDoNotStartWith3AreSkipped) {
    Scene scene;
    scene.interpreter("@/27/python.exe", Answer::passes);
    scene.interpreter("@/312/python.exe", Answer::fails);
    scene.interpreter("@/312-32/python.exe", Answer::fails);  // a 32-bit one answers 1
    scene.register_python(hkcu, python_core, u"2.7", std::nullopt, "@/27");
    scene.register_python(hkcu, python_core, u"3.12", std::nullopt, "@/312");
    scene.register_python(hkcu, python_core, u"3.12-32", std::nullopt, "@/312-32");

    EXPECT_FALSE(detect_python());
    EXPECT_EQ(scene.starts(), (Starts{scene.probe_of("@/312/python.exe"),
                                           scene.probe_of("@/312-32/python.exe")}));
}

TEST_F(Detection, PythonVersionsBeyondIndex63AreNeverTried) {
    for (const int fillers : {63, 64}) {
        SCOPED_TRACE(fillers);
        Scene scene;
        // "2.00" to "2.NN" enumerate before "3.99".
        for (int i = 0; i < fillers; ++i) {
            const std::string name = (i < 10 ? "2.0" : "2.") + std::to_string(i);
            ASSERT_TRUE(test::create_registry_key(hkcu, python_core + (u"\\" + to_wide(name))));
        }
        scene.interpreter("@/399/python.exe", Answer::passes);
        scene.register_python(hkcu, python_core, u"3.99", std::nullopt, "@/399");

        const bool reached = fillers < 64;
        EXPECT_EQ(detect_python(), reached);
        EXPECT_EQ(scene.starts(), reached ? Starts{scene.probe_of("@/399/python.exe")}
                                          : Starts{});
    }
}

TEST_F(Detection, PythonVersionNameOf128UnitsEndsThatKeyOnly) {
    for (const std::size_t length : {std::size_t{127}, std::size_t{128}}) {
        SCOPED_TRACE(length);
        Scene scene;
        // "3000..." enumerates before "3A".
        const std::u16string long_name = u"3" + std::u16string(length - 1, u'0');
        scene.interpreter("@/long/python.exe", Answer::fails);
        scene.interpreter("@/3a/python.exe", Answer::passes);
        scene.interpreter("@/machine/python.exe", Answer::passes);
        scene.register_python(hkcu, python_core, long_name, std::nullopt, "@/long");
        scene.register_python(hkcu, python_core, u"3A", std::nullopt, "@/3a");
        scene.register_python(hklm, python_core, u"3.10", std::nullopt, "@/machine");

        EXPECT_TRUE(detect_python());
        EXPECT_EQ(scene.starts(),
                  length < 128 ? (Starts{scene.probe_of("@/long/python.exe"),
                                              scene.probe_of("@/3a/python.exe")})
                               : Starts{scene.probe_of("@/machine/python.exe")});
    }
}

struct RegistrationCase {
    const char* what;
    std::optional<std::string> executable_path;
    std::optional<std::string> folder;
    std::optional<std::string> started;
};

TEST_F(Detection, PythonRegistrationNamesTheInterpreter) {
    const RegistrationCase cases[] = {
        {"ExecutablePath", "@/custom/interp", std::nullopt, "@/custom/interp"},
        {"ExecutablePath before the folder", "@/custom/interp", "@/py", "@/custom/interp"},
        {"ExecutablePath naming a missing file, folder not tried", "@/missing/python.exe", "@/py",
         std::nullopt},
        {"ExecutablePath naming a folder", "@/py", std::nullopt, std::nullopt},
        {"folder without trailing separator", std::nullopt, "@/py", "@/py/python.exe"},
        {"folder with trailing separator", std::nullopt, "@/py/", "@/py/python.exe"},
        {"empty ExecutablePath counts as none", "", "@/py", "@/py/python.exe"},
        {"neither value", std::nullopt, std::nullopt, std::nullopt},
        {"both empty", "", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        scene.interpreter("@/custom/interp", Answer::passes);
        scene.interpreter("@/py/python.exe", Answer::passes);
        scene.register_python(hklm, python_core_wow, u"3.13", c.executable_path, c.folder);

        EXPECT_EQ(detect_python(), c.started.has_value());
        EXPECT_EQ(scene.starts(),
                  c.started ? Starts{scene.probe_of(*c.started)} : Starts{});
    }
}

// ---- Resolve --------------------------------------------------------------------

constexpr char16_t app_paths_key[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Resolve.exe";
constexpr char16_t resolve_key[] = u"Software\\Blackmagic Design\\DaVinci Resolve";

enum class Place { nothing, file, folder };

// Puts a file or a folder named Resolve.exe below `folder`.
void place_resolve(const fs::path& folder, Place place) {
    const fs::path exe = folder / "Resolve.exe";
    if (place == Place::file) test::write_executable(exe, "");
    if (place == Place::folder) fs::create_directories(exe);
}

fs::path install_location(const fs::path& program_files) {
    return program_files / "Blackmagic Design" / "DaVinci Resolve";
}

struct ResolveCase {
    const char* what;
    bool sandbox;
    Place installed;   // under ProgramW6432
    Place sandboxed;   // under <sandbox>/ProgramFiles
    std::optional<std::string> app_path;
    std::optional<std::string> install_path;
    bool expected;
};

TEST_F(Detection, ResolveInItsThreePlaces) {
    const ResolveCase cases[] = {
        {"install location", false, Place::file, Place::nothing, {}, {}, true},
        {"a folder at the install location", false, Place::folder, Place::nothing, {}, {}, false},
        {"a folder at the install location, then App Paths", false, Place::folder, Place::nothing,
         "@/apps/Resolve.exe", {}, true},
        {"App Paths naming a missing file, then InstallPath", false, Place::nothing,
         Place::nothing, "@/missing/Resolve.exe", "@/install", true},
        {"App Paths naming a missing file, no InstallPath", false, Place::nothing, Place::nothing,
         "@/missing/Resolve.exe", {}, false},
        {"App Paths naming a folder", false, Place::nothing, Place::nothing,
         "@/apps-folder/Resolve.exe", {}, false},
        {"InstallPath alone", false, Place::nothing, Place::nothing, {}, "@/install", true},
        {"InstallPath with a trailing separator", false, Place::nothing, Place::nothing, {},
         "@/install/", true},
        {"InstallPath holding a folder Resolve.exe", false, Place::nothing, Place::nothing, {},
         "@/install-folder", false},
        {"nothing anywhere", false, Place::nothing, Place::nothing, {}, {}, false},
        {"sandbox install location", true, Place::nothing, Place::file, {}, {}, true},
        {"sandbox ignores the real install location and the registry", true, Place::file,
         Place::nothing, "@/apps/Resolve.exe", "@/install", false},
        {"sandbox with a folder Resolve.exe", true, Place::nothing, Place::folder,
         "@/apps/Resolve.exe", "@/install", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        place_resolve(scene.root / "apps", Place::file);
        place_resolve(scene.root / "apps-folder", Place::folder);
        place_resolve(scene.root / "install", Place::file);
        place_resolve(scene.root / "install-folder", Place::folder);
        place_resolve(install_location(scene.root / "Program Files"), c.installed);
        place_resolve(install_location(scene.root / "sandbox" / "ProgramFiles"), c.sandboxed);
        if (c.app_path) {
            ASSERT_TRUE(test::write_registry_string(hklm, app_paths_key, u"",
                                                    to_wide(scene.at(*c.app_path))));
        }
        if (c.install_path) {
            ASSERT_TRUE(test::write_registry_string(hklm, resolve_key, u"InstallPath",
                                                    to_wide(scene.at(*c.install_path))));
        }
        sandbox_root = c.sandbox ? scene.root / "sandbox" : fs::path();

        EXPECT_EQ(detect_resolve(), c.expected);
    }
}

struct ResolveReadsCase {
    const char* what;
    bool sandbox;
    bool installed;
    std::vector<std::string> reads;
};

TEST_F(Detection, ResolveReadsBothRegistryValuesOnlyOutsideSandboxAndInstallLocation) {
    const std::vector<std::string> both{
        "read HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Resolve.exe []",
        "read HKLM\\Software\\Blackmagic Design\\DaVinci Resolve [InstallPath]"};
    const ResolveReadsCase cases[] = {
        {"not installed", false, false, both},
        {"installed", false, true, {}},
        {"sandbox", true, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        // App Paths names an existing file: InstallPath is read all the same.
        place_resolve(scene.root / "apps", Place::file);
        ASSERT_TRUE(test::write_registry_string(hklm, app_paths_key, u"",
                                                path_to_wide(scene.root / "apps" / "Resolve.exe")));
        if (c.installed) place_resolve(install_location(scene.root / "Program Files"), Place::file);
        sandbox_root = c.sandbox ? scene.root / "sandbox" : fs::path();

        RecordingSystem recording;
        const platform::ScopedSystem scoped(recording);
        detect_resolve();
        EXPECT_EQ(recording.calls, c.reads);
    }
}

TEST_F(Detection, ResolveUsesProgramW6432Whole) {
    Scene scene;
    // Spaces, a separator of PATH lists and more than 260 characters in all.
    const fs::path program_files =
        scene.root / "Program Files; (x64)" / std::string(200, 'a') / std::string(100, 'b');
    place_resolve(install_location(program_files), Place::file);
    scene.env.set("ProgramW6432", program_files.string());
    EXPECT_TRUE(detect_resolve());
}

TEST_F(Detection, ResolveWithoutProgramW6432NeverLooksInTheCurrentFolder) {
    if (fs::exists(install_location(path_from_wide(platform::program_files_fallback())) /
                   "Resolve.exe"))
        GTEST_SKIP() << "Resolve is installed in the fallback folder of this machine";
    Scene scene;
    place_resolve(install_location(scene.root / "cwd"), Place::file);
    scene.env.set("ProgramW6432", "");
    EXPECT_FALSE(detect_resolve());
    scene.env.unset("ProgramW6432");
    EXPECT_FALSE(detect_resolve());
}

// ---- Running processes ------------------------------------------------------------

class ProcessList : public platform::System {
public:
    explicit ProcessList(std::optional<std::vector<std::u16string>> names)
        : names_(std::move(names)) {}
    std::optional<std::vector<std::u16string>> running_process_names() override { return names_; }

private:
    std::optional<std::vector<std::u16string>> names_;
};

struct RunningCase {
    const char* what;
    std::optional<std::vector<std::u16string>> running;
    std::u16string query;
    bool expected;
};

TEST(IsProcessRunning, ComparesWholeFileNamesInAnyLetterCase) {
    using Names = std::vector<std::u16string>;
    const RunningCase cases[] = {
        {"same name", Names{u"explorer.exe", u"Resolve.exe"}, u"Resolve.exe", true},
        {"lower case", Names{u"resolve.exe"}, u"Resolve.exe", true},
        {"upper case", Names{u"RESOLVE.EXE"}, u"Resolve.exe", true},
        {"mixed case", Names{u"rEsOlVe.ExE"}, u"Resolve.exe", true},
        {"longer, shorter or inside another name",
         Names{u"Resolve.exe.old", u"Resolve", u"xResolve.exe", u"Resolve.ex"}, u"Resolve.exe",
         false},
        {"only A to Z fold, as _wcsicmp in the C locale", Names{u"R\u00c9solve.exe"},
         u"R\u00e9solve.exe", false},
        {"nothing runs", Names{}, u"Resolve.exe", false},
        {"the list cannot be taken", std::nullopt, u"Resolve.exe", false},
    };
    for (const auto& c : cases) {
        ProcessList list(c.running);
        const platform::ScopedSystem scoped(list);
        EXPECT_EQ(is_process_running(c.query), c.expected) << c.what;
    }
}

TEST(IsProcessRunning, FindsAStartedResolveInAnyLetterCaseFromAnyFolder) {
    test::HermeticEnv env;
    const test::BackgroundProgram resolve(env.root() / "some" / "folder" / "rEsOlVe.ExE");
    EXPECT_TRUE(is_process_running(u"Resolve.exe"));
    EXPECT_TRUE(is_process_running(u"RESOLVE.EXE"));
}

TEST(IsProcessRunning, ALongerNameOfAStartedProgramDoesNotMatch) {
    test::HermeticEnv env;
    // Unique to this test process, so that tests running beside it do not matter.
    const std::string name = "VellumoTest" + std::to_string(::getpid()) + ".exe";
    const test::BackgroundProgram old(env.root() / (name + ".old"));
    EXPECT_FALSE(is_process_running(to_wide(name)));
    EXPECT_TRUE(is_process_running(to_wide(name + ".old")));
    EXPECT_TRUE(is_process_running(to_wide("vellumotest" + std::to_string(::getpid()) + ".EXE.OLD")));
}

}  // namespace
}  // namespace vellumo
