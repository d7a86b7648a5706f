#include "engine/install.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <functional>

#include "engine/install_record.hpp"
#include "engine/links.hpp"
#include "engine/text.hpp"
#include "hostile_record.hpp"
#include "odd_names.hpp"
#include "platform/platform.hpp"
#include "registry_fixture.hpp"
#include "sandbox_fixture.hpp"

namespace vellumo {
namespace {

using platform::KnownFolder;
using test::read_text;
using test::Reports;
using test::write_text;
namespace fs = std::filesystem;

const Reports full_install_reports = {
    {4, "Checking the installer"},
    {18, "Installing the Vellumo window"},
    {40, "Adding Vellumo to Resolve's Scripts menu"},
    {58, "Adding the setup guide"},
    {82, "Registering with Windows"},
    {100, "Done"},
};

std::string payload_file(const std::string& name) {
    return read_text(fs::path(VELLUMO_PAYLOAD_DIR) / name);
}

class Install : public test::SandboxTest {};

TEST_F(Install, WritesTheFilesTheRecordAndTheUninstallEntry) {
    place_python(0);
    place_resolve();
    const JobResult result = run_install(recorder());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.error, "");
    EXPECT_TRUE(result.notes.empty());
    EXPECT_EQ(reports, full_install_reports);

    const fs::path folder = install_folder();
    EXPECT_EQ(read_text(folder / "VellumoCompanion.exe"), payload_file("VellumoCompanion.exe"));
    EXPECT_EQ(read_text(scripts_folder() / "Vellumo.py"), payload_file("Vellumo.py"));
    EXPECT_EQ(read_text(folder / "SETUP.md"), payload_file("SETUP.md"));
    EXPECT_EQ(read_text(folder / "uninstall.exe"), read_text(current_exe_path()));

    const std::string s = sb().string();
    const std::string expected_manifest =
        "{\n"
        "  \"files\": [\n"
        "    \"" + s + "/Local/Programs/Vellumo for DaVinci Resolve/VellumoCompanion.exe\",\n"
        "    \"" + s + "/Roaming/Blackmagic Design/DaVinci Resolve/Support/Fusion/Scripts/Utility/Vellumo.py\",\n"
        "    \"" + s + "/Local/Programs/Vellumo for DaVinci Resolve/SETUP.md\"\n"
        "  ],\n"
        "  \"product\": \"resolve\",\n"
        "  \"registry\": [\n"
        "    \"Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\"
        "{6F1D9C52-6D9E-4B7E-9C0A-3B8E2C7A41F5}_is1\"\n"
        "  ],\n"
        "  \"shortcuts\": [],\n"
        "  \"version\": \"0.4.4\"\n"
        "}";
    EXPECT_EQ(read_text(folder / "install.json"), expected_manifest);
    EXPECT_EQ(load_install_manifest(), nlohmann::json::parse(expected_manifest));

    // The entry lies under the sandbox key only.
    const std::u16string key = sandbox_uninstall_key();
    const std::u16string real_key = uninstall_key_prefix + product_info.uninstall_key_name;
    EXPECT_FALSE(test::registry_value_names(RegistryRoot::current_user, real_key));
    const std::u16string wide_folder = path_wide(folder);
    const std::uintmax_t bytes = fs::file_size(folder / "VellumoCompanion.exe") +
                                 fs::file_size(folder / "SETUP.md") +
                                 fs::file_size(folder / "uninstall.exe");
    struct Value {
        std::u16string name;
        std::uint32_t type;
        std::u16string text;     // REG_SZ
        std::uint32_t number;    // REG_DWORD
    };
    const std::vector<Value> values = {
        {u"DisplayName", 1, u"Vellumo for DaVinci Resolve", 0},
        {u"DisplayVersion", 1, u"0.4.4", 0},
        {u"Publisher", 1, u"Vellumo", 0},
        {u"URLInfoAbout", 1, u"https://vellumo.app/", 0},
        {u"InstallLocation", 1, wide_folder, 0},
        {u"DisplayIcon", 1, wide_folder + u"/VellumoCompanion.exe", 0},
        {u"UninstallString", 1, u"\"" + wide_folder + u"/uninstall.exe\" --uninstall", 0},
        {u"QuietUninstallString", 1,
         u"\"" + wide_folder + u"/uninstall.exe\" --uninstall --silent", 0},
        {u"NoModify", 4, u"", 1},
        {u"NoRepair", 4, u"", 1},
        {u"EstimatedSize", 4, u"", static_cast<std::uint32_t>(bytes / 1024)},
    };
    std::vector<std::u16string> names;
    for (const Value& v : values) names.push_back(v.name);
    EXPECT_EQ(test::registry_value_names(RegistryRoot::current_user, key), names);
    for (const Value& v : values) {
        SCOPED_TRACE(to_utf8(v.name));
        const auto stored = test::read_registry_value(RegistryRoot::current_user, key, v.name);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->type, v.type);
        if (v.type == 1) {
            EXPECT_EQ(stored->data, test::string_data(v.text));
        } else {
            const std::vector<std::uint8_t> le = {
                static_cast<std::uint8_t>(v.number), static_cast<std::uint8_t>(v.number >> 8),
                static_cast<std::uint8_t>(v.number >> 16),
                static_cast<std::uint8_t>(v.number >> 24)};
            EXPECT_EQ(stored->data, le);
        }
    }
}

struct NotesCase {
    const char* what;
    bool python;
    bool resolve;
    const char* running;  // a running program's name, or nullptr
    std::vector<std::string> notes;
};

TEST_F(Install, CollectsNotesInTheirOrder) {
    const NotesCase cases[] = {
        {"nothing found, Resolve running", false, false, "rEsOlVe.ExE",
         {"python", "no-resolve", "restart-resolve"}},
        {"everything found, Resolve not running", true, true, nullptr, {}},
        {"only Python missing", false, true, nullptr, {"python"}},
        {"Resolve found and running", true, true, "Resolve.exe", {"restart-resolve"}},
        {"a name that only begins like Resolve's", true, true, "Resolve.exe.old", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(sb());
        payload_files.clear();
        if (c.python) place_python(0);
        else place_python(1);  // present but unsuitable
        if (c.resolve) place_resolve();
        std::optional<test::BackgroundProgram> program;
        if (c.running) program.emplace(env.root() / "bin" / c.running);
        const JobResult result = run_install(recorder());
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.notes, c.notes);
    }
}

TEST_F(Install, DamagedPackStopsBeforeAnythingIsTouched) {
    struct DamagedPack : platform::System {
        std::string rcdata_resource(unsigned id) override {
            return id == 102 ? std::string("VPAK\x01\0\0\0\x03\0\0\0", 12) : System::rcdata_resource(id);
        }
    } damaged;
    platform::ScopedSystem use(damaged);
    place_python(0);
    const JobResult result = run_install(recorder());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "This installer is damaged. Download it again from vellumo.app.");
    EXPECT_TRUE(result.notes.empty());
    EXPECT_EQ(reports, Reports(full_install_reports.begin(), full_install_reports.begin() + 1));
    EXPECT_FALSE(fs::exists(sb() / "Local"));
    EXPECT_FALSE(fs::exists(marker())) << "no detection may run";
}

TEST_F(Install, InstallFolderTakenByAFile) {
    place_python(0);
    write_text(install_folder(), "in the way");
    const JobResult result = run_install(recorder());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Could not create " + install_folder().string() + ".");
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_FALSE(fs::exists(marker())) << "no detection may run";
    EXPECT_EQ(read_text(install_folder()), "in the way");
}

TEST_F(Install, ResolveScriptNotWritableKeepsTheCompanion) {
    place_python(0);
    write_text(sb() / "Roaming" / "Blackmagic Design", "a file where a folder must go");
    const JobResult result = run_install(recorder());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Could not write to " + scripts_folder().string() + ".");
    EXPECT_TRUE(result.notes.empty());
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().first, 40);
    EXPECT_EQ(read_text(install_folder() / "VellumoCompanion.exe"),
              payload_file("VellumoCompanion.exe"));
    EXPECT_EQ(result.manifest["files"].size(), 1u);
    EXPECT_FALSE(fs::exists(install_folder() / "SETUP.md"));
}

TEST_F(Install, InstallJsonNotWritableLeavesTheEntryAndReturnsTheNotes) {
    struct FailingWrite : platform::System {
        platform::NewFile write_new_file(const fs::path& path,
                                         std::span<const std::uint8_t> bytes) override {
            if (path.filename() == "install.json.vellumo-new")
                return platform::NewFile::not_written;
            return System::write_new_file(path, bytes);
        }
    } failing;
    platform::ScopedSystem use(failing);
    const JobResult result = run_install(recorder());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Could not finish registering the installation.");
    EXPECT_EQ(result.notes, (std::vector<std::string>{"python", "no-resolve"}));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().first, 82);
    EXPECT_TRUE(test::read_registry_value(RegistryRoot::current_user, sandbox_uninstall_key(),
                                          u"DisplayName"));
    EXPECT_EQ(result.manifest["version"], "0.4.4");
}

// Without its known folder a location would lie relative to the current
// folder, where no uninstall finds it.
TEST_F(Install, UnresolvedKnownFolderFailsBeforeAnythingIsWritten) {
    sandbox_root.clear();
    const fs::path work = env.root() / "work";
    fs::create_directories(work);
    fs::current_path(work);
    struct Case {
        const char* what;
        KnownFolder unresolved;
        fs::path location;
    };
    const Case cases[] = {
        {"local application data", KnownFolder::LocalAppData,
         fs::path("Programs") / "Vellumo for DaVinci Resolve"},
        {"roaming application data", KnownFolder::RoamingAppData,
         fs::path("Blackmagic Design") / "DaVinci Resolve" / "Support" / "Fusion" / "Scripts" /
             "Utility"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reports.clear();
        payload_files.clear();
        test::UnresolvedKnownFolder system(c.unresolved);
        platform::ScopedSystem use(system);
        const JobResult result = run_install(recorder());
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, "Could not create " + c.location.string() + ".");
        EXPECT_EQ(reports.size(), 1u);
        EXPECT_TRUE(fs::is_empty(work));
        EXPECT_FALSE(fs::exists(env.root() / "data" / "Programs"));
        EXPECT_FALSE(fs::exists(env.root() / "config" / "Blackmagic Design"));
    }
}

// install.json records paths as UTF-8 text, which cannot name a folder whose
// name is not: the uninstall would look for the files elsewhere.
TEST_F(Install, FolderNameThatIsNotUnicodeFailsBeforeAnythingIsWritten) {
    const fs::path odd_root = test::odd_folder(env.root());
    const fs::path folder = fs::path("Programs") / "Vellumo for DaVinci Resolve";
    const fs::path scripts = fs::path("Blackmagic Design") / "DaVinci Resolve" / "Support" /
                             "Fusion" / "Scripts" / "Utility";
    struct Case {
        const char* what;
        std::function<void()> arrange;
        fs::path named;  // the folder the message names
    };
    const Case cases[] = {
        {"in the sandbox's path", [&] { sandbox_root = odd_root; },
         odd_root / "Local" / folder},
        {"in HOME", [&] { sandbox_root.clear(); test::set_home(env, odd_root); },
         odd_root / ".local" / "share" / folder},
        {"only in the roaming folder",
         [&] {
             sandbox_root.clear();
             env.set("XDG_DATA_HOME", env.root() / "data");
             env.set("XDG_CONFIG_HOME", odd_root);
         },
         odd_root / scripts},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(odd_root);
        fs::create_directories(odd_root);
        reports.clear();
        payload_files.clear();
        c.arrange();
        const JobResult result = run_install(recorder());
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, "Could not install into " +
                                    test::with_replacement_characters(c.named) +
                                    ": its path is not valid Unicode.");
        EXPECT_EQ(reports.size(), 1u);
        EXPECT_EQ(result.manifest["files"], nlohmann::json::array());
        for (const fs::path& made :
             {local_root() / "Programs", roaming_root() / "Blackmagic Design"})
            EXPECT_FALSE(fs::exists(made)) << made;
    }
}

TEST_F(Install, RepeatedInstallStartsTheRecordsAfresh) {
    place_python(0);
    place_resolve();
    ASSERT_TRUE(run_install(recorder()).ok);
    const std::u16string key = sandbox_uninstall_key();
    ASSERT_TRUE(test::write_registry_string(RegistryRoot::current_user, key, u"Stray", u"old"));
    write_text(install_folder() / "VellumoCompanion.exe.old-4711", "busy once");
    write_text(install_folder() / "SETUP.md.vellumo-new", "half written");
    write_text(install_folder() / "unins000.exe", "earlier installer");
    write_text(install_folder() / "unins000.dat", "earlier installer");

    ASSERT_TRUE(run_install(recorder()).ok);
    EXPECT_FALSE(test::read_registry_value(RegistryRoot::current_user, key, u"Stray"));
    for (const char* gone : {"VellumoCompanion.exe.old-4711", "SETUP.md.vellumo-new",
                             "unins000.exe", "unins000.dat"})
        EXPECT_FALSE(fs::exists(install_folder() / gone)) << gone;

    const fs::path folder = install_folder();
    const std::uintmax_t bytes =
        fs::file_size(folder / "VellumoCompanion.exe") + fs::file_size(folder / "SETUP.md") +
        fs::file_size(folder / "uninstall.exe") + fs::file_size(folder / "install.json");
    const auto size = test::read_registry_value(RegistryRoot::current_user, key, u"EstimatedSize");
    ASSERT_TRUE(size);
    const std::uint32_t kib = size->data[0] | size->data[1] << 8 | size->data[2] << 16 |
                              static_cast<std::uint32_t>(size->data[3]) << 24;
    EXPECT_EQ(kib, bytes / 1024);
}

TEST_F(Install, RunningAsTheInstalledUninstallerCopiesNothing) {
    struct RunningAsUninstaller : platform::System {
        fs::path exe;
        fs::path executable_path() override { return exe; }
    } system;
    system.exe = install_folder() / "uninstall.exe";
    write_text(system.exe, "the installed uninstaller");
    platform::ScopedSystem use(system);
    ASSERT_TRUE(run_install(recorder()).ok);
    EXPECT_EQ(read_text(system.exe), "the installed uninstaller");
}

// Mounts a tmpfs of `bytes` at `folder` in a mount namespace of this test
// process alone, so that no mount outlives it. Empty when mounted, else why not.
std::string mount_small_tmpfs(const fs::path& folder, std::size_t bytes) {
    const auto failed = [](const char* call) {
        return std::string(call) + ": " + std::strerror(errno);
    };
    if (::unshare(CLONE_NEWNS) != 0) return failed("unshare");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return failed("mount");
    const std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) return failed("mount");
    return {};
}

// Writes into `folder` until its file system has not one byte left.
void fill_disk(const fs::path& folder) {
    const int fd =
        ::open((folder / "filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const std::string block(64 * 1024, 'f');
    for (std::size_t size = block.size(); size > 0; size /= 2)
        while (::write(fd, block.data(), size) == static_cast<ssize_t>(size)) {
        }
    ::close(fd);
}

// The setup is a small program of its own, and the disk fills up just
// before it is copied as the uninstaller, or once the copy is in place.
struct FillingDisk : platform::System {
    fs::path exe;
    fs::path disk;
    bool before_the_copy = true;

    fs::path executable_path() override { return exe; }
    platform::NewFile copy_to_new_file(const fs::path& source, const fs::path& path) override {
        if (before_the_copy) fill_disk(disk);
        return System::copy_to_new_file(source, path);
    }
    bool move_file_replacing(const fs::path& from, const fs::path& to) override {
        const bool moved = System::move_file_replacing(from, to);
        if (!before_the_copy && to.filename() == "uninstall.exe") fill_disk(disk);
        return moved;
    }
};

TEST_F(Install, AFullDiskWhileRegisteringKeepsTheEarlierUninstallerAndRecord) {
    const fs::path disk = sb() / "Local";
    fs::create_directories(disk);
    if (const std::string why = mount_small_tmpfs(disk, 1 << 20); !why.empty())
        GTEST_SKIP() << "a full disk needs a small tmpfs, which cannot be mounted here (" << why
                     << "); CI runs as root, where it can";
    struct Unmount {
        fs::path disk;
        ~Unmount() { ::umount2(disk.c_str(), MNT_DETACH); }
    } unmount{disk};

    struct Case {
        const char* what;
        bool before_the_copy;
        bool copied;  // uninstall.exe is the new copy, and the entry is written
    };
    const Case cases[] = {
        {"the disk fills during the uninstaller copy", true, false},
        {"the disk fills before install.json", false, true},
    };
    const std::string setup(64 * 1024, 's');
    write_text(env.root() / "setup.exe", setup);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& entry : fs::directory_iterator(disk)) fs::remove_all(entry.path());
        payload_files.clear();
        reports.clear();
        write_text(install_folder() / "uninstall.exe", "earlier uninstaller");
        write_text(install_folder() / "install.json", "earlier record");
        ASSERT_TRUE(test::write_registry_string(RegistryRoot::current_user, sandbox_uninstall_key(),
                                                u"DisplayName", u"earlier"));
        FillingDisk system;
        system.exe = env.root() / "setup.exe";
        system.disk = disk;
        system.before_the_copy = c.before_the_copy;
        platform::ScopedSystem use(system);

        const JobResult result = run_install(recorder());
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, "Could not finish registering the installation.");
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back().first, 82);
        EXPECT_EQ(read_text(install_folder() / "uninstall.exe"),
                  c.copied ? setup : "earlier uninstaller");
        EXPECT_EQ(read_text(install_folder() / "install.json"), "earlier record");
        for (const char* temporary : {"uninstall.exe.vellumo-new", "install.json.vellumo-new"})
            EXPECT_FALSE(fs::exists(install_folder() / temporary)) << temporary;
        const auto name = test::read_registry_value(RegistryRoot::current_user,
                                                    sandbox_uninstall_key(), u"DisplayName");
        ASSERT_TRUE(name);
        EXPECT_EQ(name->data,
                  test::string_data(c.copied ? u"Vellumo for DaVinci Resolve" : u"earlier"));
    }
}

class InstallManifest : public ::testing::Test {
protected:
    void SetUp() override { sandbox_root = env.root() / "sb"; }
    void TearDown() override { sandbox_root.clear(); }

    test::HermeticEnv env;
    const fs::path file = env.root() / "sb" / "Local" / "Programs" /
                          "Vellumo for DaVinci Resolve" / "install.json";
};

TEST_F(InstallManifest, ReadsOnlyAnObject) {
    struct Case {
        const char* what;
        const char* text;
        nlohmann::json expected;
    };
    const Case cases[] = {
        {"empty file", "", nlohmann::json::object()},
        {"array", "[1, 2]", nlohmann::json::object()},
        {"string", "\"x\"", nlohmann::json::object()},
        {"null", "null", nlohmann::json::object()},
        {"object then text", "{\"a\": 1} x", nlohmann::json::object()},
        {"two objects", "{} {}", nlohmann::json::object()},
        {"comment", "{/* c */}", nlohmann::json::object()},
        {"object then white space", "{\"a\": 1}\r\n\t ", {{"a", 1}}},
        {"byte-order mark", "\xEF\xBB\xBF{\"version\": \"0.4.0\"}", {{"version", "0.4.0"}}},
        {"unexpected keys kept", "{\"zz\": [true], \"version\": 3}", {{"zz", {true}}, {"version", 3}}},
        {"nested deeper than a record", "{\"files\": [[\"a\"]], \"version\": \"0.4.4\"}",
         nlohmann::json::object()},
        {"an object one level down", "{\"zz\": {\"a\": 1}}", {{"zz", {{"a", 1}}}}},
    };
    for (const auto& c : cases) {
        write_text(file, c.text);
        EXPECT_EQ(load_install_manifest(), c.expected) << c.what;
    }
    fs::remove(file);
    EXPECT_EQ(load_install_manifest(), nlohmann::json::object()) << "missing file";
}

// No file at install.json's place can crash a reader or hold it up.
TEST_F(InstallManifest, UnreadableDeepOrHugeReadsAsEmpty) {
    struct Case {
        const char* what;
        std::function<void()> plant;
    };
    const Case cases[] = {
        {"a folder", [&] { fs::create_directories(file / "inner"); }},
        {"deeply nested", [&] { write_text(file, test::deeply_nested_record(400'000)); }},
        {"megabytes deeply nested", [&] { write_text(file, test::deeply_nested_record(2'000'000)); }},
        {"a record padded to megabytes",
         [&] { write_text(file, "{\"version\": \"0.4.4\"}" + std::string(4'000'000, ' ')); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(file);
        c.plant();
        const nlohmann::json manifest = load_install_manifest();
        EXPECT_TRUE(manifest.is_object() && manifest.empty());
    }
}

}  // namespace
}  // namespace vellumo
