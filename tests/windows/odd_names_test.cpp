// Paths that are not valid UTF-16 (an unpaired surrogate): their UTF-8 text
// holds U+FFFD instead, and the install refuses them. Wine 8 makes no file or
// folder of such a name on a Linux file system (the call reports the path not
// found), so the setup program could not tell the refusal from a failure to
// create its folder: the install runs in this process, where its message is
// seen.
#include "windows/wine_world.hpp"  // windows.h first

#include <string>

#include "engine/install.hpp"
#include "engine/payload.hpp"
#include "engine/product_info.hpp"
#include "engine/text.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;

TEST(OddNames, OnlyValidUtf16ComesBackExactlyFromItsText) {
    const struct {
        const char* what;
        std::wstring text;
        bool exact;
    } cases[] = {
        {"valid", L"Z:\\tmp\\J\u00f6rg \U0001F3AC", true},
        {"U+FFFD itself", L"Z:\\tmp\\Ren\uFFFD", true},
        {"a lone high surrogate", std::wstring(L"Z:\\tmp\\Ren") + wchar_t(0xD800), false},
        {"a lone low surrogate", std::wstring(L"Z:\\tmp\\") + wchar_t(0xDC00) + L"\\x", false},
        {"the pair reversed", std::wstring(L"Z:\\") + wchar_t(0xDC00) + wchar_t(0xD800), false},
    };
    for (const auto& c : cases) EXPECT_EQ(path_utf8_is_exact(fs::path(c.text)), c.exact) << c.what;
}

TEST(OddNames, InstallRefusesASandboxWithAnUnpairedSurrogate) {
    const fs::path parent = test::fresh_folder();
    const fs::path sandbox = parent / (std::wstring(L"Ren") + wchar_t(0xD800));
    const fs::path saved = sandbox_root;
    sandbox_root = sandbox;
    payload_files.clear();
    int reports = 0;
    const JobResult result = run_install([&reports](int, const std::string&) { ++reports; });
    sandbox_root = saved;
    payload_files.clear();

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Could not install into " + path_utf8(parent) +
                                "\\Ren\xEF\xBF\xBD\\Local\\Programs\\Vellumo for DaVinci Resolve"
                                ": its path is not valid Unicode.");
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(fs::is_empty(parent));
}

}  // namespace
}  // namespace vellumo
