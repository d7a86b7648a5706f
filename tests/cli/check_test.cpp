// --check: the sandbox it needs, check.json byte for byte, the damaged pack,
// and that it runs beside another instance and beside other checks.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/program.hpp"
#include "engine/payload.hpp"
#include "engine/replace.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using test::damaged_pack_program;
using test::ProgramWorld;
using test::read_text;
using test::setup_program;

// check.json of an empty sandbox, with the sandbox's path, the mode and the
// pack's verdict filled in.
std::string expected_check(const fs::path& sandbox, const std::string& mode, bool valid,
                           const std::string& error) {
    return R"({
  "components": [
    {
      "detail": "The caption studio that opens from Resolve.",
      "id": "window",
      "label": "Vellumo window",
      "on": true,
      "optional": false
    },
    {
      "detail": "Adds Workspace > Scripts > Vellumo to DaVinci Resolve.",
      "id": "script",
      "label": "Resolve script",
      "on": true,
      "optional": false
    }
  ],
  "error": ")" + error + R"(",
  "folder": ")" + sandbox.string() + R"(/Local/Programs/Vellumo for DaVinci Resolve",
  "found": {
    "python": false,
    "resolve": false
  },
  "installed": "",
  "kind": "resolve",
  "mode": ")" + mode + R"(",
  "name": "Vellumo for DaVinci Resolve",
  "payloadValid": )" + (valid ? "true" : "false") + R"(,
  "tagline": "Caption your timeline in Vellumo and send every styled word straight back to Resolve.",
  "version": "0.4.4"
})";
}

TEST(Check, ValidPackWritesTheReportAndSucceeds) {
    ProgramWorld world;
    const test::Run run = world.run(setup_program(), {"--check"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(read_text(world.sandbox() / "check.json"),
              expected_check(world.sandbox(), "install", true, ""));
    // The check installs nothing and takes no lock.
    EXPECT_FALSE(fs::exists(world.install_folder()));
    EXPECT_TRUE(fs::is_empty(world.runtime()));
}

TEST(Check, DamagedPackIsReportedAndFails) {
    ProgramWorld world;
    const test::Run run = world.run(damaged_pack_program(), {"--check"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(read_text(world.sandbox() / "check.json"),
              expected_check(world.sandbox(), "install", false, damaged_installer_message()));
}

TEST(Check, UninstallOptionSetsTheMode) {
    ProgramWorld world;
    const test::Run run = world.run(setup_program(), {"--check", "--uninstall"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(read_text(world.sandbox() / "check.json"),
              expected_check(world.sandbox(), "uninstall", true, ""));
}

TEST(Check, ReplacesAnEarlierReport) {
    ProgramWorld world;
    test::write_text(world.sandbox() / "check.json", std::string(5000, 'x'));
    EXPECT_EQ(world.run(setup_program(), {"--check"}).exit_code, 0);
    EXPECT_EQ(read_text(world.sandbox() / "check.json"),
              expected_check(world.sandbox(), "install", true, ""));
}

TEST(Check, ReportsTheInstalledVersion) {
    ProgramWorld world;
    fs::create_directories(world.install_folder());
    test::write_text(world.install_folder() / "install.json", R"({"version": "0.3.9"})");
    EXPECT_EQ(world.run(setup_program(), {"--check"}).exit_code, 0);
    const auto report = nlohmann::json::parse(read_text(world.sandbox() / "check.json").value());
    EXPECT_EQ(report["installed"], "0.3.9");
}

TEST(Check, UnwritableReportFails) {
    ProgramWorld world;
    fs::create_directory(world.sandbox() / "check.json");  // in the way
    EXPECT_EQ(world.run(setup_program(), {"--check"}).exit_code, 1);
}

TEST(Check, MissingSandboxFolderFails) {
    ProgramWorld world;
    const test::Run run =
        world.run_as(setup_program(), {"--check"}, (world.root() / "nowhere").string());
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_FALSE(fs::exists(world.root() / "nowhere"));
}

struct UnusableSandbox {
    const char* name;
    std::optional<std::string> value;
    friend void PrintTo(const UnusableSandbox& c, std::ostream* out) { *out << c.name; }
};

class CheckWithoutSandbox : public testing::TestWithParam<UnusableSandbox> {};

TEST_P(CheckWithoutSandbox, Returns2AndWritesNothing) {
    ProgramWorld world;
    // Where a relative sandbox would lie, so that a write there shows.
    fs::create_directories(world.work() / "out");
    const test::Run run = world.run_as(setup_program(), {"--check"}, GetParam().value);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_TRUE(fs::is_empty(world.work() / "out"));
    EXPECT_FALSE(fs::exists(world.work() / "check.json"));
    EXPECT_FALSE(fs::exists(world.env().home() / "check.json"));
}

INSTANTIATE_TEST_SUITE_P(Table, CheckWithoutSandbox,
                         testing::Values(UnusableSandbox{"Unset", std::nullopt},
                                         UnusableSandbox{"Empty", ""},
                                         UnusableSandbox{"Relative", "out"},
                                         UnusableSandbox{"DotRelative", "./out"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Check, RunsWhileAnotherInstanceHoldsTheMutex) {
    ProgramWorld world;
    ASSERT_EQ(platform::os().create_instance_mutex(product_info.mutex_name),
              platform::InstanceMutex::created);
    const test::Run run = world.run(setup_program(), {"--check"});
    platform::os().release_instance_mutex();
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(fs::exists(world.sandbox() / "check.json"));
}

// The temporary and backup files anywhere in `folder`.
std::vector<std::string> leftovers(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(temporary_suffix) || name.find(backup_marker) != std::string::npos)
            found.push_back(name);
    }
    return found;
}

// The check takes no guard, so checks run side by side replace the same
// check.json: every one succeeds, and the report is whole after each round.
TEST(Check, ChecksSideBySideAllSucceedAndLeaveAWholeReport) {
    constexpr int checks = 8;
    constexpr int rounds = 12;
    ProgramWorld world;
    const std::string expected = expected_check(world.sandbox(), "install", true, "");
    for (int round = 1; round <= rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<ProgramWorld::Started> started;
        for (int i = 0; i < checks; ++i)
            started.push_back(world.start(setup_program(), {"--check"}));
        for (const ProgramWorld::Started& check : started) {
            const test::Run run = world.finish(check);
            EXPECT_EQ(run.exit_code, 0) << run.err;
        }
        EXPECT_EQ(read_text(world.sandbox() / "check.json"), expected);
        EXPECT_EQ(leftovers(world.sandbox()), std::vector<std::string>{});
        if (::testing::Test::HasFailure()) return;
    }
}

}  // namespace
}  // namespace vellumo
