// The setup program's window against the stand-in WebView2 runtime, under
// Wine with a display: the runtime is found where a real one is found, the
// view is locked down, the page is shown, its bindings answer, an install
// runs in the sandbox, and the window closes only when no job runs; the
// program keeps the runtime's rules, which the stand-in checks. When the
// runtime fails, the failure message is shown and the exit code is 3 (a
// runtime that never answers fails the same way after a minute, which
// webview_engine_test.cpp shows with a shorter limit).
#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "windows/wine_world.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::read_bytes;
using test::windows_path;

const std::wstring runtime_key =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const std::wstring sandbox_key = L"Software\\Vellumo\\SetupSandbox";

struct Line {
    std::string what;
    std::string detail;
};

std::vector<Line> read_log(const fs::path& file) {
    std::vector<Line> lines;
    std::istringstream in(read_bytes(file));
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        lines.push_back({line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)});
    }
    return lines;
}

// The index of the first line with `what` whose detail starts with `detail`;
// -1 when there is none.
long find(const std::vector<Line>& log, const std::string& what, const std::string& detail = "") {
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].what == what && log[i].detail.starts_with(detail)) return static_cast<long>(i);
    return -1;
}

// The index of the last line with `what`; -1 when there is none.
long find_last(const std::vector<Line>& log, const std::string& what) {
    for (size_t i = log.size(); i-- > 0;)
        if (log[i].what == what) return static_cast<long>(i);
    return -1;
}

std::string utf8(const fs::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Closes the program's message box once it shows; whether one showed with
// the failure text.
bool close_failure_message(DWORD process) {
    struct Search {
        DWORD process;
        HWND box = nullptr;
    } search{process};
    const bool shown = test::eventually([&] {
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                wchar_t title[64] = L"";
                GetWindowTextW(window, title, 64);
                if (owner == s->process && wcscmp(title, L"Vellumo Setup") == 0) s->box = window;
                return s->box == nullptr;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.box != nullptr;
    }, std::chrono::minutes(2));
    if (!shown) return false;
    const bool text_found = FindWindowExW(search.box, nullptr, L"Static", nullptr) != nullptr;
    PostMessageW(search.box, WM_COMMAND, IDOK, 0);
    return text_found;
}

class WebViewWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path client = runtime / L"EBWebView" / L"x64";
        fs::create_directories(client);
        fs::copy_file(windows_path(STANDIN_RUNTIME_PATH), client / L"EmbeddedBrowserWebView.dll");
        fs::create_directories(sandbox);
        fs::create_directories(tmp);
        RegDeleteTreeW(HKEY_CURRENT_USER, sandbox_key.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, runtime_key.c_str());
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, sandbox_key.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, runtime_key.c_str());
    }

    test::Process start(std::map<std::wstring, std::optional<std::wstring>> changes,
                        const std::function<void(DWORD id)>& before_run = {}) {
        changes.emplace(L"VELLUMO_SETUP_SANDBOX", sandbox.wstring());
        changes.emplace(L"VELLUMO_STANDIN_LOG", log_file.wstring());
        changes.emplace(L"TMP", tmp.wstring());
        changes.emplace(L"TEMP", tmp.wstring());
        changes.emplace(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", runtime.wstring());
        return test::start(windows_path(VELLUMO_SETUP_PATH), L"", changes, root, before_run);
    }

    std::vector<fs::path> user_data_folders() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(sandbox))
            if (entry.path().filename().wstring().starts_with(L"VellumoWebView-"))
                found.push_back(entry.path());
        return found;
    }

    const fs::path root = test::fresh_folder();
    const fs::path runtime = root / L"runtime";
    const fs::path sandbox = root / L"sandbox";
    const fs::path tmp = root / L"tmp";
    const fs::path log_file = root / L"standin.log";
};

TEST_F(WebViewWindow, ShowsThePageLockedDownRunsAnInstallAndClosesAfterIt) {
    test::Process program = start({});
    ASSERT_TRUE(program);
    const DWORD id = program.id();
    EXPECT_EQ(program.wait(180000), 0);
    const auto log = read_log(log_file);
    std::ostringstream all;
    for (const auto& line : log) all << line.what << '\t' << line.detail << '\n';
    SCOPED_TRACE(all.str());

    // Found through the fixed-version variable; data in the sandbox, gone after.
    const std::string user_data = utf8(sandbox / ("VellumoWebView-" + std::to_string(id)));
    EXPECT_GE(find(log, "environment", "kind=1 check=1 user-data=" + user_data + " exists=1"), 0);
    EXPECT_TRUE(user_data_folders().empty());
    EXPECT_GE(find(log, "controller", "parent class VellumoSetupWindow"), 0);

    for (const char* setting : {"devtools=0", "context-menus=0", "status-bar=0", "zoom=0",
                                "host-objects=0"})
        EXPECT_GE(find(log, "setting", setting), 0) << setting;
    EXPECT_LT(find(log, "setting", "devtools=1"), 0);
    for (const char* handler :
         {"navigation", "frame-navigation", "new-window", "permission", "web-message"})
        EXPECT_GE(find(log, "handler", handler), 0) << handler;
    EXPECT_GE(find(log, "document-script", "(() => { const call = window.__vellumo.call; "
                                           "window[\"setupInfo\"]"), 0);

    // The runtime's rules: the stand-in logs a "violation" for a page shown
    // before its scripts were added, and for a binding or message loop run
    // inside an event handler.
    EXPECT_LT(find(log, "violation"), 0);
    const long page = find(log, "page");
    ASSERT_GE(page, 0);
    EXPECT_LT(find_last(log, "script-added"), page);
    // Keys reach the shown page; the view learns of the window's moves.
    EXPECT_GT(find(log, "focus", "programmatic visible=1 page=1"), page);
    EXPECT_GE(find(log, "position-changed"), 0);

    // The lock-down's decisions, made before the page's first call.
    EXPECT_GE(find(log, "navigation", "data:text/html;charset=utf-8;base64,PHA+ cancel=0"), 0);
    EXPECT_GE(find(log, "navigation", "https://example.com/ cancel=1"), 0);
    EXPECT_GE(find(log, "frame-navigation", "about:blank cancel=1"), 0);
    EXPECT_GE(find(log, "new-window", "handled=1"), 0);
    EXPECT_GE(find(log, "permission", "state=2"), 0);
    EXPECT_EQ(read_bytes(log_file.wstring() + L".page"), read_bytes(windows_path(VELLUMO_PAGE_FILE)));

    // setupInfo answers with the setup information.
    const long info = find(log, "reply", "1 0 ");
    ASSERT_GE(info, 0);
    const json document = json::parse(log[info].detail.substr(4), nullptr, false);
    EXPECT_EQ(document.value("mode", ""), "install");
    // The minimise that the page asked for right after it: answered in turn.
    EXPECT_GT(find(log, "reply", "5 0 null"), info);

    // The close asked for during the install is refused; the install's
    // progress reaches the page before its reply; the close after it ends
    // the program.
    const long install_call = find(log, "call", "2 setupInstall");
    const long refused = find(log, "reply", "3 0 null");
    const long install_reply = find(log, "reply", "2 0 ");
    const long progress = find(log, "script", "window.setupProgress&&window.setupProgress(");
    ASSERT_GE(install_reply, 0);
    EXPECT_LT(install_call, refused);
    EXPECT_LT(refused, install_reply);
    EXPECT_LT(install_call, progress);
    EXPECT_LT(progress, install_reply);
    for (size_t i = install_reply; i < log.size(); ++i)
        EXPECT_FALSE(log[i].detail.starts_with("window.setupProgress")) << "progress after the reply";
    const json reply = json::parse(log[install_reply].detail.substr(4), nullptr, false);
    EXPECT_EQ(reply.value("ok", false), true) << reply.dump();
    EXPECT_EQ(reply.value("error", "?"), "");
    EXPECT_GT(find(log, "call", "4 setupWindow [\"close\"]"), install_reply);
    EXPECT_GT(find(log, "close"), install_reply);
    EXPECT_TRUE(test::present(sandbox / L"Local" / L"Programs" / L"Vellumo for DaVinci Resolve"));
}

// A folder link in the view's data folder, left by an earlier process of the
// same id or planted while the window is open, is never entered. Wine cannot
// remove a folder link, so there the earlier folder stays and the view takes
// a fresh name beside it; Windows removes the link itself.
TEST_F(WebViewWindow, ALinkInTheDataFolderIsNeverEntered) {
    // A folder of its own outside for each run, linked from the run's data folder.
    const auto outside = [&](DWORD id) { return root / ("outside-" + std::to_string(id)); };
    const auto plant = [&](DWORD id) {
        test::write_bytes(outside(id) / L"sub" / L"file", "keep");
        const fs::path browser = sandbox / ("VellumoWebView-" + std::to_string(id)) / L"EBWebView";
        test::write_bytes(browser / L"Local State", "{}");
        EXPECT_TRUE(test::make_unix_link(outside(id), browser / L"planted"));
    };

    test::Process earlier = start({}, plant);
    ASSERT_TRUE(earlier);
    EXPECT_EQ(earlier.wait(180000), 0);
    EXPECT_TRUE(test::holds(outside(earlier.id()) / L"sub" / L"file", "keep"));

    const fs::path release = root / L"release";
    test::Process program = start({{L"VELLUMO_STANDIN_HOLD", release.wstring()}});
    ASSERT_TRUE(program);
    EXPECT_TRUE(test::eventually([&] { return find(read_log(log_file), "reply", "2 0 ") >= 0; },
                                 std::chrono::seconds(60)));
    plant(program.id());
    test::write_bytes(release, "");
    EXPECT_EQ(program.wait(120000), 0);
    EXPECT_TRUE(test::holds(outside(program.id()) / L"sub" / L"file", "keep"));
}

// An earlier process's data folder of the same id that will not go does not
// stop the window (Windows reuses process ids often). A read-only file in it
// goes all the same; a folder in which a process still holds a file, as a
// browser process of a crashed run does, stays, and the view takes a fresh
// name beside it, which goes at the end.
TEST_F(WebViewWindow, AnEarlierDataFolderThatWillNotGoDoesNotStopTheWindow) {
    const struct {
        const char* what;
        bool held;  // else read-only
    } cases[] = {{"a read-only file", false}, {"a file held without FILE_SHARE_DELETE", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(log_file.c_str());
        fs::path earlier;
        HANDLE held = INVALID_HANDLE_VALUE;
        test::Process program = start({}, [&](DWORD id) {
            earlier = sandbox / ("VellumoWebView-" + std::to_string(id));
            const fs::path file = earlier / L"EBWebView" / L"Default" / L"LOCK";
            test::write_bytes(file, "lock");
            if (c.held) {
                held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
                EXPECT_NE(held, INVALID_HANDLE_VALUE);
            } else {
                EXPECT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
            }
        });
        ASSERT_TRUE(program);
        EXPECT_EQ(program.wait(180000), 0);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);

        const auto log = read_log(log_file);
        const std::string folder = utf8(earlier) + (c.held ? "-1" : "");
        EXPECT_GE(find(log, "environment", "kind=1 check=1 user-data=" + folder + " exists=1"), 0);
        EXPECT_GE(find(log, "page"), 0);
        EXPECT_EQ(user_data_folders(), c.held ? std::vector{earlier} : std::vector<fs::path>{});
    }
}

TEST_F(WebViewWindow, AFailingRuntimeShowsTheFailureMessageAndExits3) {
    test::Process program = start({{L"VELLUMO_STANDIN_FAIL", L"environment"}});
    ASSERT_TRUE(program);
    EXPECT_TRUE(close_failure_message(program.id()));
    EXPECT_EQ(program.wait(), 3);
    EXPECT_GE(find(read_log(log_file), "environment", "kind=1"), 0);
    EXPECT_TRUE(user_data_folders().empty());
}

TEST_F(WebViewWindow, ADocumentScriptThatFailsShowsTheFailureMessageAndExits3) {
    test::Process program = start({{L"VELLUMO_STANDIN_FAIL", L"script"}});
    ASSERT_TRUE(program);
    EXPECT_TRUE(close_failure_message(program.id()));
    EXPECT_EQ(program.wait(), 3);
    const auto log = read_log(log_file);
    EXPECT_GE(find(log, "script-added", "2 failed"), 0);
    EXPECT_LT(find(log, "page"), 0);
    EXPECT_TRUE(user_data_folders().empty());
}

TEST_F(WebViewWindow, TheRuntimeRegisteredForTheUserIsFoundAndAFailedViewGives3) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, runtime_key.c_str(), 0, nullptr, 0, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring folder = runtime.wstring();
    RegSetValueExW(key, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    test::Process program = start({{L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", std::nullopt},
                                   {L"VELLUMO_STANDIN_FAIL", L"controller"}});
    ASSERT_TRUE(program);
    EXPECT_TRUE(close_failure_message(program.id()));
    EXPECT_EQ(program.wait(), 3);
    const auto log = read_log(log_file);
    EXPECT_GE(find(log, "environment", "kind=0"), 0);
    EXPECT_GE(find(log, "controller", "parent class VellumoSetupWindow"), 0);
}

}  // namespace
}  // namespace vellumo
