// Checks run side by side under Wine. The check takes no guard, so they all
// replace the same check.json, and a file cannot be replaced while another
// process has it open: each check holds it for a moment as it moves its own
// report in, and so may a program that reads the report.
#include <nlohmann/json.hpp>

#include <atomic>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "windows/wine_world.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;

// The temporary and backup files in `folder`.
std::vector<std::wstring> leftovers(const fs::path& folder) {
    std::vector<std::wstring> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::wstring name = entry.path().filename().wstring();
        if (name.ends_with(L".vellumo-new") || name.find(L".old-") != std::wstring::npos)
            found.push_back(name);
    }
    return found;
}

// The bytes of `file`, opened as a reader that lets others move and delete
// it meanwhile; nullopt when it cannot be opened.
std::optional<std::string> read_shared(const fs::path& file) {
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(handle);
    return bytes;
}

class SideBySide : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(sandbox);
        // What every round must end with: the report of a check that ran alone.
        ASSERT_EQ(test::start(program, L"--check", environment, root).wait(), 0);
        report = test::read_bytes(sandbox / L"check.json");
        ASSERT_TRUE(nlohmann::json::parse(report, nullptr, false).is_object()) << report;
    }

    // Eight checks at once, a dozen times: each exits 0, and the report is
    // whole after each round. A backup that a reader still holds open goes
    // only when the reader lets go of it.
    void expect_checks_side_by_side(bool read_meanwhile) {
        constexpr int checks = 8;
        constexpr int rounds = 12;
        for (int round = 1; round <= rounds; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            std::vector<test::Process> started;
            for (int i = 0; i < checks; ++i)
                started.push_back(test::start(program, L"--check", environment, root));
            for (test::Process& check : started) EXPECT_EQ(check.wait(), 0);
            EXPECT_TRUE(test::holds(sandbox / L"check.json", report));
            if (!read_meanwhile) {
                EXPECT_EQ(leftovers(sandbox), std::vector<std::wstring>{});
            }
            if (HasFailure()) return;
        }
    }

    const fs::path root = test::fresh_folder();
    const fs::path sandbox = root / L"sandbox";
    const fs::path program = test::windows_path(VELLUMO_SETUP_PATH);
    const test::Environment environment{{L"VELLUMO_SETUP_SANDBOX", sandbox.wstring()}};
    std::string report;
};

TEST_F(SideBySide, ChecksAllSucceedAndLeaveAWholeReport) { expect_checks_side_by_side(false); }

// A reader keeps check.json open most of the time, so that the checks'
// direct replacements fail and they move the report aside instead; whatever
// it reads is the whole report.
TEST_F(SideBySide, ChecksSucceedWhileAReaderKeepsTheReportOpen) {
    std::atomic<int> torn = 0;
    {
        const std::jthread reader([&](const std::stop_token& stop) {
            while (!stop.stop_requested()) {
                const std::optional<std::string> read = read_shared(sandbox / L"check.json");
                if (read && *read != report) ++torn;
            }
        });
        expect_checks_side_by_side(true);
    }
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(leftovers(sandbox), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace vellumo
