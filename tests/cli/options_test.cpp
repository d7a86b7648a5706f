// Which arguments set which option, and that the program reads its options
// from its own arguments.
#include <gtest/gtest.h>

#include "app/startup.hpp"
#include "cli/program.hpp"

namespace vellumo {
namespace {

using test::ProgramWorld;
using test::setup_program;

struct OptionCase {
    const char* name;
    std::vector<std::u16string> arguments;  // argument 0 first
    StartOptions expected;
    friend void PrintTo(const OptionCase& c, std::ostream* out) { *out << c.name; }
};

constexpr StartOptions none{};

StartOptions only_uninstall() { StartOptions o; o.uninstall = true; return o; }
StartOptions only_silent() { StartOptions o; o.silent = true; return o; }
StartOptions only_check() { StartOptions o; o.check = true; return o; }
StartOptions everything() { return {true, true, true, true}; }

class MatchOptions : public testing::TestWithParam<OptionCase> {};

TEST_P(MatchOptions, SetsExactlyTheOptionsGivenWhole) {
    const StartOptions got = match_options(GetParam().arguments);
    const StartOptions& want = GetParam().expected;
    EXPECT_EQ(got.uninstall, want.uninstall);
    EXPECT_EQ(got.silent, want.silent);
    EXPECT_EQ(got.cleanup, want.cleanup);
    EXPECT_EQ(got.check, want.check);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MatchOptions,
    testing::Values(
        OptionCase{"NoArguments", {u"setup"}, none},
        OptionCase{"NoVector", {}, none},
        OptionCase{"EachOption", {u"setup", u"--cleanup", u"--check", u"--silent", u"--uninstall"},
                   everything()},
        OptionCase{"LetterCase", {u"setup", u"--Uninstall", u"--SILENT", u"--Check"}, none},
        OptionCase{"OneDash", {u"setup", u"-uninstall", u"-silent", u"-check", u"-cleanup"}, none},
        OptionCase{"ValueAfterEquals", {u"setup", u"--check=1", u"--silent=", u"--uninstall=yes"},
                   none},
        OptionCase{"PrefixAndLonger", {u"setup", u"--chec", u"--checks", u"--silent "}, none},
        OptionCase{"SlashForm", {u"setup", u"/silent", u"/uninstall"}, none},
        OptionCase{"Repeated", {u"setup", u"--silent", u"--silent", u"--silent"}, only_silent()},
        OptionCase{"UnknownAroundAnOption", {u"setup", u"", u"--uninstall", u"extra"},
                   only_uninstall()},
        OptionCase{"ArgumentZeroIsTheProgram", {u"--check"}, none},
        OptionCase{"ArgumentZeroNotMatchedOrCounted", {u"--check", u"--check"}, only_check()}),
    [](const testing::TestParamInfo<OptionCase>& info) { return info.param.name; });

TEST(UsableSandbox, OnlyAnAbsolutePath) {
    EXPECT_TRUE(usable_sandbox("/out"));
    EXPECT_TRUE(usable_sandbox("/"));
    EXPECT_FALSE(usable_sandbox(""));
    EXPECT_FALSE(usable_sandbox("out"));
    EXPECT_FALSE(usable_sandbox("./out"));
    EXPECT_FALSE(usable_sandbox("../out"));
}

// What a run of the program turned out to be, from what it left behind.
enum class Outcome { check, silent_install, window };

struct ProgramCase {
    const char* name;
    std::vector<std::string> arguments;
    Outcome outcome;
    friend void PrintTo(const ProgramCase& c, std::ostream* out) { *out << c.name; }
};

class ProgramOptions : public testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramOptions, ChooseTheRun) {
    ProgramWorld world;
    const test::Run run = world.run(setup_program(), GetParam().arguments);
    const bool checked = std::filesystem::exists(world.sandbox() / "check.json");
    const bool installed = std::filesystem::exists(world.install_folder() / "install.json");
    switch (GetParam().outcome) {
    case Outcome::check:
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_TRUE(checked);
        EXPECT_FALSE(installed);
        break;
    case Outcome::silent_install:
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_TRUE(installed);
        EXPECT_TRUE(std::filesystem::exists(world.sandbox() / "result.json"));
        EXPECT_FALSE(checked);
        break;
    case Outcome::window:  // no window can open here: the failure message, 3
        EXPECT_EQ(run.exit_code, 3);
        EXPECT_NE(run.err.find(window_failure_message), std::string::npos) << run.err;
        EXPECT_FALSE(installed);
        EXPECT_FALSE(checked);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgramOptions,
    testing::Values(ProgramCase{"Nothing", {}, Outcome::window},
                    ProgramCase{"CheckInOtherCase", {"--Check"}, Outcome::window},
                    ProgramCase{"CheckWithOneDash", {"-check"}, Outcome::window},
                    ProgramCase{"CheckWithValue", {"--check=yes"}, Outcome::window},
                    ProgramCase{"SilentInOtherCase", {"--SILENT"}, Outcome::window},
                    ProgramCase{"CheckTwice", {"--check", "--check"}, Outcome::check},
                    ProgramCase{"CheckLastAmongOthers", {"--silent", "--cleanup", "--check"},
                                Outcome::check},
                    ProgramCase{"SilentAfterUnknown", {"install", "--silent"},
                                Outcome::silent_install}),
    [](const testing::TestParamInfo<ProgramCase>& info) { return info.param.name; });

TEST(ProgramOptions, ArgumentZeroIsNeverAnOption) {
    ProgramWorld world;
    const test::Run run =
        world.run_as(setup_program(), {}, world.sandbox().string(), std::string("--check"));
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_FALSE(std::filesystem::exists(world.sandbox() / "check.json"));
}

}  // namespace
}  // namespace vellumo
