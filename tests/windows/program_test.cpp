// The setup program under Wine, each run in a sandbox of its own: the check,
// the silent install and uninstall with their files and registry values, the
// single instance, the uninstall hand-off, the window mode without a web view,
// the manifest, the hand-off's copy while its original or another process
// still holds uninstall.exe, DLLs planted beside the program, and links in
// the install's way. The program carries a pack of random bytes, which the
// stand-in cabinet.dll unpacks (every chunk is stored).
#include <nlohmann/json.hpp>

#include <regex>
#include <set>
#include <string>

#include "app/startup.hpp"
#include "platform/platform.hpp"
#include "windows/wine_world.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::read_bytes;
using test::windows_path;

const std::wstring sandbox_key = L"Software\\Vellumo\\SetupSandbox";
const std::wstring uninstall_key =
    sandbox_key + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                  L"{6F1D9C52-6D9E-4B7E-9C0A-3B8E2C7A41F5}_is1";
const char* const damaged_message = "This installer is damaged. Download it again from vellumo.app.";

fs::path setup_program() { return windows_path(VELLUMO_SETUP_PATH); }
fs::path damaged_program() { return windows_path(VELLUMO_SETUP_DAMAGED_PATH); }
std::string payload(const char* name) {
    return read_bytes(windows_path(VELLUMO_RANDOM_PAYLOAD) / name);
}

std::string utf8(const fs::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

json read_json(const fs::path& file) {
    const std::string text = read_bytes(file);
    return text.empty() ? json() : json::parse(text, nullptr, false);
}

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(sandbox);
        fs::create_directories(tmp);
        RegDeleteTreeW(HKEY_CURRENT_USER, sandbox_key.c_str());
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, sandbox_key.c_str()); }

    // Starts `program` with VELLUMO_SETUP_SANDBOX set to `sandbox_value`
    // (unset for nullopt) and this test's own temporary folder, in `folder`.
    test::Process start(const fs::path& program, const std::wstring& arguments,
                        const std::optional<std::wstring>& sandbox_value) {
        return start_in(work, program, arguments, sandbox_value);
    }
    test::Process start_in(const fs::path& folder, const fs::path& program,
                           const std::wstring& arguments,
                           const std::optional<std::wstring>& sandbox_value) {
        return test::start(program, arguments,
                           {{L"VELLUMO_SETUP_SANDBOX", sandbox_value},
                            {L"TMP", tmp.wstring()},
                            {L"TEMP", tmp.wstring()}},
                           folder);
    }
    // The same, waited for: how it ended.
    test::Exit run(const fs::path& program, const std::wstring& arguments,
                   const std::optional<std::wstring>& sandbox_value) {
        return start(program, arguments, sandbox_value).wait();
    }
    test::Exit run(const fs::path& program, const std::wstring& arguments) {
        return run(program, arguments, sandbox.wstring());
    }

    fs::path install_folder() const {
        return sandbox / L"Local" / L"Programs" / L"Vellumo for DaVinci Resolve";
    }
    fs::path scripts_folder() const {
        return sandbox / L"Roaming" / L"Blackmagic Design" / L"DaVinci Resolve" / L"Support" /
               L"Fusion" / L"Scripts" / L"Utility";
    }

    const fs::path root = test::fresh_folder();
    const fs::path sandbox = root / L"sandbox \u00dcn\u00ef";  // paths travel into JSON as UTF-8
    const fs::path tmp = root / L"tmp";
    const fs::path work = root;
};

// ---- The check ---------------------------------------------------------------------

TEST_F(Program, CheckOfAValidPackWritesCheckJsonAndExits0) {
    ASSERT_EQ(run(setup_program(), L"--check"), 0);
    const std::string text = read_bytes(sandbox / L"check.json");
    EXPECT_NE(text.find("\r\n"), std::string::npos);  // written as text
    json check = read_json(sandbox / L"check.json");
    ASSERT_TRUE(check.is_object()) << text;
    EXPECT_EQ(check["payloadValid"], true);
    EXPECT_EQ(check["error"], "");
    EXPECT_EQ(check["installed"], "");
    EXPECT_EQ(check["mode"], "install");
    EXPECT_EQ(check["folder"], utf8(install_folder()));
}

TEST_F(Program, CheckOfADamagedPackExits1WithTheMessage) {
    ASSERT_EQ(run(damaged_program(), L"--check"), 1);
    json check = read_json(sandbox / L"check.json");
    ASSERT_TRUE(check.is_object());
    EXPECT_EQ(check["payloadValid"], false);
    EXPECT_EQ(check["error"], json(damaged_message));
}

// The product's own pack is compressed: Wine has no decompressor for it and
// the stand-in refuses compressed chunks, which the check reports as a
// damaged installer rather than taking wrong bytes.
TEST_F(Program, CheckOfACompressedPackUnderTheStandInReportsItDamaged) {
    ASSERT_EQ(run(windows_path(VELLUMO_PRODUCT_SETUP_PATH), L"--check"), 1);
    json check = read_json(sandbox / L"check.json");
    ASSERT_TRUE(check.is_object());
    EXPECT_EQ(check["payloadValid"], false);
    EXPECT_EQ(check["error"], json(damaged_message));
}

TEST_F(Program, CheckWithoutAUsableSandboxExits2AndWritesNothing) {
    const struct {
        const char* what;
        std::optional<std::wstring> value;
    } cases[] = {
        {"unset", std::nullopt},
        {"empty", L""},
        {"relative", L"out"},
        {"no drive", L"\\out"},
        {"drive-relative", L"C:out"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(setup_program(), L"--check", c.value), 2) << c.what;
        EXPECT_FALSE(test::present(work / L"out")) << c.what;
        EXPECT_FALSE(test::present(work / L"check.json")) << c.what;
    }
}

// ---- Silent install and uninstall ------------------------------------------------

TEST_F(Program, SilentInstallWritesTheFilesTheRecordAndTheUninstallEntry) {
    ASSERT_EQ(run(setup_program(), L"--silent"), 0);
    EXPECT_EQ(read_json(sandbox / L"result.json")["ok"], true);

    const fs::path companion = install_folder() / L"VellumoCompanion.exe";
    const fs::path script = scripts_folder() / L"Vellumo.py";
    const fs::path guide = install_folder() / L"SETUP.md";
    const fs::path uninstaller = install_folder() / L"uninstall.exe";
    EXPECT_TRUE(test::holds(companion, payload("VellumoCompanion.exe")));
    EXPECT_TRUE(test::holds(script, payload("Vellumo.py")));
    EXPECT_TRUE(test::holds(guide, payload("SETUP.md")));
    EXPECT_TRUE(test::holds(uninstaller, read_bytes(setup_program())));

    json record = read_json(install_folder() / L"install.json");
    ASSERT_TRUE(record.is_object());
    EXPECT_EQ(record["files"], json::array({utf8(companion), utf8(script), utf8(guide)}));
    EXPECT_EQ(record["product"], "resolve");
    EXPECT_EQ(record["registry"],
              json::array({"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                           "{6F1D9C52-6D9E-4B7E-9C0A-3B8E2C7A41F5}_is1"}));
    EXPECT_EQ(record["shortcuts"], json::array());
    EXPECT_EQ(record["version"], "0.4.4");

    const std::wstring quoted = L"\"" + uninstaller.wstring() + L"\"";
    const std::uint64_t bytes = read_bytes(companion).size() + read_bytes(guide).size() +
                                read_bytes(uninstaller).size();
    const struct {
        const wchar_t* name;
        DWORD type;
        std::string data;
    } values[] = {
        {L"DisplayName", REG_SZ, test::string_value_bytes(L"Vellumo for DaVinci Resolve")},
        {L"DisplayVersion", REG_SZ, test::string_value_bytes(L"0.4.4")},
        {L"Publisher", REG_SZ, test::string_value_bytes(L"Vellumo")},
        {L"URLInfoAbout", REG_SZ, test::string_value_bytes(L"https://vellumo.app/")},
        {L"InstallLocation", REG_SZ, test::string_value_bytes(install_folder().wstring())},
        {L"DisplayIcon", REG_SZ, test::string_value_bytes(companion.wstring())},
        {L"UninstallString", REG_SZ, test::string_value_bytes(quoted + L" --uninstall")},
        {L"QuietUninstallString", REG_SZ,
         test::string_value_bytes(quoted + L" --uninstall --silent")},
        {L"NoModify", REG_DWORD, test::dword_value_bytes(1)},
        {L"NoRepair", REG_DWORD, test::dword_value_bytes(1)},
        {L"EstimatedSize", REG_DWORD, test::dword_value_bytes(static_cast<std::uint32_t>(bytes / 1024))},
    };
    std::set<std::wstring> expected_names;
    for (const auto& v : values) {
        expected_names.insert(v.name);
        const auto value = test::read_value(HKEY_CURRENT_USER, uninstall_key, v.name);
        ASSERT_TRUE(value) << utf8(v.name);
        EXPECT_EQ(value->type, v.type) << utf8(v.name);
        EXPECT_EQ(value->bytes, v.data) << utf8(v.name);
    }
    // Nothing else under the key, and nothing outside the sandbox key.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, uninstall_key.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    std::set<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0, length = 256; RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr,
                                                  nullptr) == ERROR_SUCCESS;
         ++i, length = 256)
        names.insert(name);
    RegCloseKey(key);
    EXPECT_EQ(names, expected_names);
    EXPECT_FALSE(test::key_exists(HKEY_CURRENT_USER,
                                  L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                                  L"{6F1D9C52-6D9E-4B7E-9C0A-3B8E2C7A41F5}_is1"));
}

TEST_F(Program, SilentUninstallRemovesWhatTheInstallWrote) {
    ASSERT_EQ(run(setup_program(), L"--silent"), 0);
    ASSERT_TRUE(test::key_exists(HKEY_CURRENT_USER, uninstall_key));

    ASSERT_EQ(run(setup_program(), L"--uninstall --silent"), 0);
    EXPECT_EQ(read_json(sandbox / L"result.json")["ok"], true);
    EXPECT_FALSE(test::present(install_folder()));
    EXPECT_FALSE(test::present(scripts_folder() / L"Vellumo.py"));
    EXPECT_FALSE(test::key_exists(HKEY_CURRENT_USER, uninstall_key));
    EXPECT_TRUE(test::present(sandbox / L"Local"));  // the known folder stays
}

TEST_F(Program, ASecondInstanceExits0AtOnceAndDoesNothing) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Local\\VellumoSetupResolve");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(run(setup_program(), L"--silent"), 0);
    EXPECT_EQ(run(setup_program(), L""), 0);  // no window either
    EXPECT_FALSE(test::present(install_folder()));
    EXPECT_FALSE(test::present(sandbox / L"result.json"));
    // The check takes no mutex.
    EXPECT_EQ(run(setup_program(), L"--check"), 0);
    CloseHandle(mutex);
}

// Started as the installed uninstall.exe, the uninstall goes on in a copy in
// the temporary folder, which removes the original and later itself.
TEST_F(Program, UninstallFromTheInstallFolderHandsOffToATemporaryCopy) {
    ASSERT_EQ(run(setup_program(), L"--silent"), 0);
    const fs::path uninstaller = install_folder() / L"uninstall.exe";
    ASSERT_TRUE(test::present(uninstaller));
    fs::remove(sandbox / L"result.json");

    test::Process first = start(uninstaller, L"--uninstall --silent", sandbox.wstring());
    const fs::path copy = tmp / (L"VellumoUninstall-" + std::to_wstring(first.id()) + L".exe");
    EXPECT_EQ(first.wait(), 0);
    // The copy deletes itself only two seconds after it has ended.
    EXPECT_TRUE(test::present(copy));

    EXPECT_TRUE(test::eventually([&] { return test::present(sandbox / L"result.json"); }));
    EXPECT_TRUE(test::eventually([&] { return !test::present(uninstaller); }));
    EXPECT_EQ(read_json(sandbox / L"result.json")["ok"], true);
    EXPECT_FALSE(test::key_exists(HKEY_CURRENT_USER, uninstall_key));
    EXPECT_TRUE(test::eventually([&] { return !test::present(copy); }));
}

// Double-clicked in Explorer, uninstall.exe runs in the install folder. The
// copy must not inherit that as its current folder: a process's current
// folder cannot be removed.
TEST_F(Program, HandedOffUninstallStartedInTheInstallFolderRemovesIt) {
    ASSERT_EQ(run(setup_program(), L"--silent"), 0);
    const fs::path uninstaller = install_folder() / L"uninstall.exe";
    fs::remove(sandbox / L"result.json");
    test::Process first =
        start_in(install_folder(), uninstaller, L"--uninstall --silent", sandbox.wstring());
    EXPECT_EQ(first.wait(), 0);
    EXPECT_TRUE(test::eventually([&] { return test::present(sandbox / L"result.json"); },
                                 std::chrono::seconds(60)));
    EXPECT_EQ(read_json(sandbox / L"result.json")["ok"], true);
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(install_folder(), ignored))
        ADD_FAILURE() << "left behind: " << entry.path().filename().string();
    EXPECT_FALSE(test::present(install_folder()));
}

// With a relative sandbox, the copy works on the same sandbox as the program
// that started it: it keeps the caller's current folder.
TEST_F(Program, HandedOffUninstallWithARelativeSandboxWorksOnTheSameSandbox) {
    const std::wstring relative = sandbox.filename().wstring();
    ASSERT_EQ(start(setup_program(), L"--silent", relative).wait(), 0);
    const fs::path uninstaller = install_folder() / L"uninstall.exe";
    ASSERT_TRUE(test::present(uninstaller));
    fs::remove(sandbox / L"result.json");

    EXPECT_EQ(start(uninstaller, L"--uninstall --silent", relative).wait(), 0);
    EXPECT_TRUE(test::eventually([&] { return test::present(sandbox / L"result.json"); }));
    EXPECT_EQ(read_json(sandbox / L"result.json")["ok"], true);
    EXPECT_FALSE(test::key_exists(HKEY_CURRENT_USER, uninstall_key));
    EXPECT_TRUE(test::eventually([&] { return !test::present(install_folder()); }));
}

// ---- The window without a web view ----------------------------------------------

TEST_F(Program, WindowModeWithoutAWebViewEndsWithExit3) {
    // Headless, Wine's MessageBoxW returns at once; the text is checked below.
    EXPECT_EQ(run(setup_program(), L""), 3);
    EXPECT_FALSE(test::present(install_folder()));
}

TEST(WindowFailure, ShowsTheMessageAndGives3) {
    struct Recorder : platform::System {
        void show_error_message(const std::string& text, const std::string& caption) override {
            shown.push_back({text, caption});
        }
        std::vector<std::pair<std::string, std::string>> shown;
    } recorder;
    platform::ScopedSystem scoped(recorder);
    EXPECT_EQ(run_window_or_report(), 3);
    const std::vector<std::pair<std::string, std::string>> expected{
        {"Vellumo Setup could not open its interface. Install or repair Microsoft Edge WebView2 "
         "Runtime, then try again. No installation was started.",
         "Vellumo Setup"}};
    EXPECT_EQ(recorder.shown, expected);
}

// ---- The manifest -------------------------------------------------------------------

// The text of the manifest resource of `program`; empty when it has none.
std::string manifest_of(const fs::path& program) {
    const HMODULE module = LoadLibraryExW(
        program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return {};
    std::string text;
    if (const HRSRC found = FindResourceW(module, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST))
        if (const HGLOBAL loaded = LoadResource(module, found))
            text.assign(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
    FreeLibrary(module);
    return text;
}

// The failure box and the system's dialogs take the current look from version
// 6 of the common controls, which the program's manifest depends on.
TEST(Manifest, DependsOnTheCommonControlsOfVersion6) {
    const std::string manifest = manifest_of(windows_path(VELLUMO_PRODUCT_SETUP_PATH));
    const std::regex dependency(
        R"(<dependency>\s*<dependentAssembly>\s*<assemblyIdentity\s([^>]*)/>\s*</dependentAssembly>)");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(manifest, found, dependency)) << manifest;
    std::set<std::string> attributes;
    const std::regex attribute(R"(\w+="[^"]*")");
    const std::string text = found[1];
    for (std::sregex_iterator it(text.begin(), text.end(), attribute), end; it != end; ++it)
        attributes.insert(it->str());
    const std::set<std::string> expected{
        R"(type="win32")", R"(name="Microsoft.Windows.Common-Controls")",
        R"(version="6.0.0.0")", R"(processorArchitecture="*")",
        R"(publicKeyToken="6595b64144ccf1df")", R"(language="*")"};
    EXPECT_EQ(attributes, expected);
}

// ---- The copy and its original -----------------------------------------------------

// A program started suspended: its file is mapped, so in use, for as long as
// it lives, and it runs nothing meanwhile.
class HeldProgram {
public:
    explicit HeldProgram(const fs::path& program) {
        std::wstring command_line = L"\"" + program.wstring() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                            CREATE_SUSPENDED, nullptr, nullptr, &startup, &info_))
            info_ = {};
    }
    ~HeldProgram() {
        end();
        if (info_.hThread) CloseHandle(info_.hThread);
        if (info_.hProcess) CloseHandle(info_.hProcess);
    }
    HeldProgram(const HeldProgram&) = delete;
    HeldProgram& operator=(const HeldProgram&) = delete;
    explicit operator bool() const { return info_.hProcess != nullptr; }
    DWORD id() const { return info_.dwProcessId; }
    void end() {
        if (!info_.hProcess || WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0) return;
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 60000);
    }

private:
    PROCESS_INFORMATION info_{};
};

class CopyAndOriginal : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        ASSERT_EQ(run(setup_program(), L"--silent"), 0);
        fs::remove(sandbox / L"result.json");
    }
    fs::path uninstaller() const { return install_folder() / L"uninstall.exe"; }
    // The copy as the hand-off makes it, named for `original_id`, started.
    test::Process start_copy(DWORD original_id) {
        copy = tmp / (L"VellumoUninstall-" + std::to_wstring(original_id) + L".exe");
        fs::copy_file(uninstaller(), copy);
        return start(copy, L"--uninstall --cleanup --silent", sandbox.wstring());
    }
    void expect_all_gone(test::Process& copy_run) {
        EXPECT_EQ(copy_run.wait(), 0);
        EXPECT_EQ(read_json(sandbox / L"result.json")["ok"], true);
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(install_folder(), ignored))
            ADD_FAILURE() << "left behind: " << utf8(entry.path().filename());
        EXPECT_FALSE(test::present(install_folder()));
        EXPECT_TRUE(test::eventually([&] { return !test::present(copy); }));
    }

    fs::path copy;
};

// The original has started the copy and is on its way out: until it has
// ended, its file cannot be deleted.
TEST_F(CopyAndOriginal, TheCopyBeginsOnlyOnceItsOriginalHasEnded) {
    HeldProgram original(uninstaller());
    ASSERT_TRUE(original);
    test::Process copy_run = start_copy(original.id());
    ASSERT_TRUE(copy_run);
    // Something that must not happen while the original lives.
    EXPECT_FALSE(test::eventually(
        [&] { return !test::present(install_folder() / L"VellumoCompanion.exe"); },
        std::chrono::seconds(5)));
    original.end();
    expect_all_gone(copy_run);
}

// Another uninstall.exe on its way out, or a scanner reading the file.
TEST_F(CopyAndOriginal, AnUninstallerInUseElsewhereIsRemovedOnceItIsFree) {
    HeldProgram holder(uninstaller());
    ASSERT_TRUE(holder);
    DWORD gone_id = 0;  // the copy's original has ended long ago
    {
        test::Process helper = test::start(test::test_helper(), L"exit 0");
        gone_id = helper.id();
        ASSERT_EQ(helper.wait(), 0);
    }
    test::Process copy_run = start_copy(gone_id);
    ASSERT_TRUE(copy_run);
    // The uninstall has begun, and uninstall.exe comes moments later: it is
    // held a while longer, as a scanner would.
    ASSERT_TRUE(test::eventually(
        [&] { return !test::present(install_folder() / L"VellumoCompanion.exe"); }));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    holder.end();
    expect_all_gone(copy_run);
}

// ---- Planted DLLs ------------------------------------------------------------------

// A downloads folder may hold anything: a DLL named as one that the program
// loads at run time is never loaded from beside it (wine.sh has Wine prefer
// such files to its own DLLs, as Windows does).
TEST_F(Program, DllsPlantedBesideTheProgramAreNeverLoaded) {
    const fs::path downloads = root / L"Downloads";
    fs::create_directories(downloads);
    fs::copy_file(setup_program(), downloads / L"vellumo-setup.exe");
    const char* const planted[] = {"cabinet.dll", "bcrypt.dll", "dwmapi.dll", "WebView2Loader.dll"};
    for (const char* name : planted) fs::copy_file(windows_path(PLANTED_DLL_PATH), downloads / name);

    EXPECT_EQ(run(downloads / L"vellumo-setup.exe", L"--check"), 0);
    EXPECT_EQ(read_json(sandbox / L"check.json")["payloadValid"], true);
    EXPECT_EQ(run(downloads / L"vellumo-setup.exe", L""), 3);
    for (const char* name : planted)
        EXPECT_FALSE(test::present(downloads / (std::string(name) + ".loaded"))) << name;

    // The mark is real: a program that looks beside itself loads it.
    const fs::path looking = downloads / L"test_helper.exe";
    fs::copy_file(test::test_helper(), looking);
    EXPECT_EQ(run(looking, L"load bcrypt.dll"), 0);
    EXPECT_TRUE(test::present(downloads / L"bcrypt.dll.loaded"));
}

// ---- Links in the install's way ------------------------------------------------------

// A link anywhere below the known folder: the install refuses it and writes
// nothing where it leads.
class LinkInTheWay : public Program {
protected:
    void expect_refused(const fs::path& link) {
        const fs::path elsewhere = root / L"elsewhere";
        fs::create_directories(elsewhere);
        fs::create_directories(link.parent_path());
        ASSERT_TRUE(test::make_unix_link(elsewhere, link));

        EXPECT_EQ(run(setup_program(), L"--silent"), 1);
        EXPECT_EQ(read_json(sandbox / L"result.json")["error"],
                  json("A link is in the way of Vellumo for DaVinci Resolve."));
        EXPECT_TRUE(fs::is_empty(elsewhere));
    }
};

TEST_F(LinkInTheWay, AtTheInstallFolder) { expect_refused(install_folder()); }

TEST_F(LinkInTheWay, FurtherUp) { expect_refused(sandbox / L"Local" / L"Programs"); }

// The handles this process holds, by value.
std::vector<HANDLE> open_handles() {
    std::vector<HANDLE> open;
    for (ULONG_PTR value = 4; value < 0x1000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            open.push_back(reinterpret_cast<HANDLE>(value));
    }
    return open;
}

// Making a link leaves every handle of the test open. Wine reports a Unix
// program started with stale handle values of an earlier start: taken for
// ln's and closed, one of them is a file of the test after these steps.
TEST_F(LinkInTheWay, IsMadeWithoutClosingAHandleOfTheTest) {
    const std::vector<HANDLE> before = open_handles();
    const fs::path outside = root / L"outside";
    test::write_bytes(outside / L"keep.txt", "precious");
    fs::create_directories(install_folder());
    ASSERT_TRUE(test::make_unix_link(outside, install_folder() / L"planted"));
    for (const HANDLE handle : before) {
        DWORD flags = 0;
        EXPECT_TRUE(GetHandleInformation(handle, &flags)) << "closed: " << handle;
    }
}

// Links planted at the temporary files' names lead to a folder: Wine shows a
// Unix link to a file as a plain file (and deletes the file it leads to when
// asked to delete the link), so only links to folders stand for Windows'
// reparse points here. Wine cannot remove such a link either (Windows can,
// and goes on), so the install may fail; it never writes through one.
TEST_F(Program, TemporaryFilesAreNeverWrittenThroughAPlantedLink) {
    const fs::path outside = root / L"outside";
    test::write_bytes(outside / L"keep.txt", "precious");
    fs::create_directories(install_folder());
    fs::create_directories(scripts_folder());
    for (const fs::path& temporary : {install_folder() / L"VellumoCompanion.exe.vellumo-new",
                                      install_folder() / L"SETUP.md.vellumo-new",
                                      scripts_folder() / L"Vellumo.py.vellumo-new"})
        ASSERT_TRUE(test::make_unix_link(outside, temporary));

    const test::Exit code = run(setup_program(), L"--silent");
    EXPECT_TRUE(test::holds(outside / L"keep.txt", "precious"));
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(outside)) entries.push_back(entry.path());
    EXPECT_EQ(entries, std::vector<fs::path>{outside / L"keep.txt"});
    EXPECT_EQ(read_json(sandbox / L"result.json")["ok"], code == 0);
}

}  // namespace
}  // namespace vellumo
