// The Windows view engine made in this process against the stand-in WebView2
// runtime, with a display: what a run of the setup program cannot show
// without its own waits, such as a runtime that never answers, where the
// program waits a minute.
#include "windows/wine_world.hpp"  // windows.h first

#include <chrono>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.hpp"
#include "view/view.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;

// The stand-in runtime leaves the environment it is asked for unanswered.
class WebViewEngine : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path client = runtime / L"EBWebView" / L"x64";
        fs::create_directories(client);
        fs::copy_file(test::windows_path(STANDIN_RUNTIME_PATH), client / L"EmbeddedBrowserWebView.dll");
        fs::create_directories(sandbox);
        for (const auto& [name, value] : variables)
            ASSERT_TRUE(SetEnvironmentVariableW(name, value.c_str()));
        platform::os().enter_com_apartment();
    }
    void TearDown() override {
        for (const auto& [name, value] : variables) SetEnvironmentVariableW(name, nullptr);
    }

    const fs::path root = test::fresh_folder();
    const fs::path runtime = root / L"runtime";
    const fs::path sandbox = root / L"sandbox";
    const fs::path log_file = root / L"standin.log";
    std::vector<std::pair<const wchar_t*, std::wstring>> variables = {
        {L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", runtime.wstring()},
        {L"VELLUMO_SETUP_SANDBOX", sandbox.wstring()},
        {L"VELLUMO_STANDIN_LOG", log_file.wstring()},
        {L"VELLUMO_STANDIN_FAIL", L"silent"},
    };
};

TEST_F(WebViewEngine, ARuntimeThatNeverAnswersFailsTheEngineAtItsAnswerLimit) {
    try {
        const view::Engine engine(std::chrono::seconds(1));
        ADD_FAILURE() << "The engine was made.";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "The WebView2 runtime does not answer.");
    }
    EXPECT_NE(test::read_bytes(log_file).find("environment\tkind=1 "), std::string::npos);
    EXPECT_TRUE(fs::is_empty(sandbox));  // the view's data folder is gone
}

}  // namespace
}  // namespace vellumo
