// An install.json that cannot be read, is no regular file, or once crashed or
// held its readers, in the two headless modes that read it: it is no record.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

#include <nlohmann/json.hpp>

#include "cli/program.hpp"
#include "unit/hostile_record.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using test::ProgramWorld;
using test::read_text;
using test::setup_program;

struct HostileRecord {
    const char* what;
    std::function<void(const fs::path& record)> plant;
};

const HostileRecord hostile_records[] = {
    {"a folder", [](const fs::path& record) { fs::create_directories(record / "inner"); }},
    {"megabytes deep",
     [](const fs::path& record) { test::write_text(record, test::deeply_nested_record(2'000'000)); }},
    // Opened as an ordinary file, a fifo blocks its reader until the run is killed.
    {"a fifo", [](const fs::path& record) { ASSERT_EQ(::mkfifo(record.c_str(), 0600), 0); }},
    {"a link to a record elsewhere",
     [](const fs::path& record) {
         const fs::path elsewhere = record.parent_path().parent_path() / "elsewhere.json";
         test::write_text(elsewhere, R"({"files": [], "version": "0.4.4"})");
         fs::create_symlink(elsewhere, record);
     }},
};

TEST(HostileRecord, CheckReportsNothingInstalled) {
    for (const auto& c : hostile_records) {
        SCOPED_TRACE(c.what);
        ProgramWorld world;
        fs::create_directories(world.install_folder());
        c.plant(world.install_folder() / "install.json");
        const test::Run run = world.run(setup_program(), {"--check"});
        EXPECT_EQ(run.exit_code, 0) << run.err;
        const auto report = read_text(world.sandbox() / "check.json");
        ASSERT_TRUE(report);
        EXPECT_EQ(nlohmann::json::parse(*report)["installed"], "");
    }
}

TEST(HostileRecord, SilentUninstallRemovesTheDefaultFiles) {
    for (const auto& c : hostile_records) {
        SCOPED_TRACE(c.what);
        ProgramWorld world;
        ASSERT_EQ(world.run(setup_program(), {"--silent"}).exit_code, 0);
        const fs::path record = world.install_folder() / "install.json";
        fs::remove(record);
        c.plant(record);
        const test::Run run = world.run(setup_program(), {"--uninstall", "--silent"});
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(nlohmann::json::parse(read_text(world.sandbox() / "result.json").value())["ok"],
                  true);
        for (const char* file : {"VellumoCompanion.exe", "SETUP.md", "uninstall.exe"})
            EXPECT_FALSE(fs::exists(world.install_folder() / file)) << file;
        EXPECT_FALSE(fs::exists(world.sandbox() / "Roaming" / "Blackmagic Design" /
                                "DaVinci Resolve" / "Support" / "Fusion" / "Scripts" / "Utility" /
                                "Vellumo.py"));
    }
}

}  // namespace
}  // namespace vellumo
