// The setup information: its nine members, the installed version read afresh
// from install.json, the mode, and the compact text of the setupInfo binding.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/setup_info.hpp"
#include "cli/program.hpp"
#include "engine/product_info.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using namespace nlohmann::literals;

class SetupInfo : public testing::Test {
protected:
    void SetUp() override {
        sandbox_root = world_.sandbox();
        fs::create_directories(world_.install_folder());
    }
    void TearDown() override {
        sandbox_root.clear();
        uninstall_mode = false;
    }
    void write_record(const std::string& text) {
        test::write_text(world_.install_folder() / "install.json", text);
    }

    test::ProgramWorld world_;
};

struct RecordCase {
    const char* name;
    std::optional<std::string> install_json;  // none: no file
    std::string installed;
    friend void PrintTo(const RecordCase& c, std::ostream* out) { *out << c.name; }
};

class InstalledVersion : public SetupInfo, public testing::WithParamInterface<RecordCase> {};

TEST_P(InstalledVersion, IsTheRecordsVersionStringOrEmpty) {
    if (GetParam().install_json) write_record(*GetParam().install_json);
    EXPECT_EQ(build_setup_info()["installed"], GetParam().installed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InstalledVersion,
    testing::Values(RecordCase{"NoRecord", std::nullopt, ""},
                    RecordCase{"Version", R"({"version": "0.3.1", "product": "x"})", "0.3.1"},
                    RecordCase{"OwnVersion", R"({"version": "0.4.4"})", "0.4.4"},
                    RecordCase{"VersionUnchanged", R"({"version": " v9 ünï "})", " v9 ünï "},
                    RecordCase{"NoVersionMember", R"({"product": "x"})", ""},
                    RecordCase{"VersionNumber", R"({"version": 5})", ""},
                    RecordCase{"VersionNull", R"({"version": null})", ""},
                    RecordCase{"VersionObject", R"({"version": {"major": 0}})", ""},
                    RecordCase{"Array", R"(["version", "0.3.1"])", ""},
                    RecordCase{"String", R"("0.3.1")", ""},
                    RecordCase{"NotJson", "version = 0.3.1", ""},
                    RecordCase{"Empty", "", ""}),
    [](const testing::TestParamInfo<RecordCase>& info) { return info.param.name; });

TEST_F(SetupInfo, EveryCallReadsTheRecordAgain) {
    EXPECT_EQ(build_setup_info()["installed"], "");
    write_record(R"({"version": "0.4.4"})");
    EXPECT_EQ(build_setup_info()["installed"], "0.4.4");
    fs::remove(world_.install_folder() / "install.json");
    EXPECT_EQ(build_setup_info()["installed"], "");
}

TEST_F(SetupInfo, ModeFollowsTheUninstallOption) {
    EXPECT_EQ(build_setup_info()["mode"], "install");
    uninstall_mode = true;
    const nlohmann::json info = build_setup_info();
    EXPECT_EQ(info["mode"], "uninstall");
    uninstall_mode = false;
    nlohmann::json install_info = build_setup_info();
    install_info["mode"] = "uninstall";
    EXPECT_EQ(install_info, info);  // nothing else depends on the mode
}

TEST_F(SetupInfo, FoundNamesEachDetectionRight) {
    const fs::path program_files = world_.sandbox() / "ProgramFiles";
    const fs::path resolve = program_files / "Blackmagic Design" / "DaVinci Resolve" / "Resolve.exe";
    const fs::path python = program_files / "Python" / "python.exe";
    fs::create_directories(resolve.parent_path());
    fs::create_directories(python.parent_path());
    EXPECT_EQ(build_setup_info()["found"], R"({"python": false, "resolve": false})"_json);

    test::write_text(resolve, "");
    EXPECT_EQ(build_setup_info()["found"], R"({"python": false, "resolve": true})"_json);

    fs::remove(resolve);
    test::write_text(python, "#!/bin/sh\nexit 0\n");  // a Python that passes the probe
    fs::permissions(python, fs::perms(0755));
    EXPECT_EQ(build_setup_info()["found"], R"({"python": true, "resolve": false})"_json);
}

TEST_F(SetupInfo, BindingAnswersCompactUtf8InKeyOrder) {
    const std::string text = on_setup_info("[1, \"ignored\"]");
    const std::string folder = (world_.install_folder()).string();
    EXPECT_EQ(text,
              R"({"components":[{"detail":"The caption studio that opens from Resolve.","id":"window","label":"Vellumo window","on":true,"optional":false},)"
              R"({"detail":"Adds Workspace > Scripts > Vellumo to DaVinci Resolve.","id":"script","label":"Resolve script","on":true,"optional":false}],)"
              R"("folder":")" + folder + R"(","found":{"python":false,"resolve":false},"installed":"","kind":"resolve","mode":"install",)"
              R"("name":"Vellumo for DaVinci Resolve","tagline":"Caption your timeline in Vellumo and send every styled word straight back to Resolve.","version":"0.4.4"})");
    EXPECT_NE(folder.find("Ünï"), std::string::npos);  // written as UTF-8, not escaped
}

}  // namespace
}  // namespace vellumo
