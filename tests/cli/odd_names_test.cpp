// Folders whose names are not UTF-8, a Latin-1 byte in the sandbox's path or
// in HOME: the silent install refuses before it writes anything, and the
// silent uninstall removes an earlier install, which recorded its paths with
// U+FFFD in place of the byte.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/program.hpp"
#include "unit/odd_names.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using test::ProgramWorld;

// One world's user, with the byte in the sandbox's path or, without a
// sandbox, in HOME; and the folders the setup works in there.
class OddUser {
public:
    OddUser(ProgramWorld& world, bool sandboxed) : world_(world), sandboxed_(sandboxed) {
        fs::create_directories(root_);
        if (!sandboxed) test::set_home(world.env(), root_);
    }

    test::Run run(const std::vector<std::string>& arguments) {
        const std::optional<std::string> sandbox =
            sandboxed_ ? std::optional<std::string>(root_.string()) : std::nullopt;
        return world_.run_as(test::setup_program(), arguments, sandbox);
    }

    std::optional<nlohmann::json> result() const {
        const std::optional<std::string> text = test::read_text(root_ / "result.json");
        if (!text) return std::nullopt;
        return nlohmann::json::parse(*text);
    }

    fs::path local() const { return sandboxed_ ? root_ / "Local" : root_ / ".local" / "share"; }
    fs::path roaming() const { return sandboxed_ ? root_ / "Roaming" : root_ / ".config"; }
    fs::path install_folder() const { return local() / "Programs" / "Vellumo for DaVinci Resolve"; }
    fs::path scripts_folder() const {
        return roaming() / "Blackmagic Design" / "DaVinci Resolve" / "Support" / "Fusion" /
               "Scripts" / "Utility";
    }

private:
    ProgramWorld& world_;
    bool sandboxed_;
    fs::path root_ = test::odd_folder(world_.root());
};

struct Place {
    const char* what;
    bool sandboxed;
};
const Place places[] = {{"in the sandbox's path", true}, {"in HOME", false}};

TEST(OddFolderNames, SilentInstallRefusesBeforeWritingAnything) {
    for (const Place& place : places) {
        SCOPED_TRACE(place.what);
        ProgramWorld world;
        OddUser user(world, place.sandboxed);
        const test::Run run = user.run({"--silent"});
        EXPECT_EQ(run.exit_code, 1) << run.err;
        EXPECT_FALSE(fs::exists(user.local() / "Programs"));
        EXPECT_FALSE(fs::exists(user.roaming() / "Blackmagic Design"));
        if (!place.sandboxed) continue;  // the result goes only to a sandbox
        const std::optional<nlohmann::json> result = user.result();
        ASSERT_TRUE(result);
        EXPECT_EQ((*result)["ok"], false);
        EXPECT_EQ((*result)["error"], "Could not install into " +
                                          test::with_replacement_characters(user.install_folder()) +
                                          ": its path is not valid Unicode.");
    }
}

TEST(OddFolderNames, SilentUninstallRemovesWhatAnEarlierInstallRecorded) {
    for (const Place& place : places) {
        SCOPED_TRACE(place.what);
        ProgramWorld world;
        OddUser user(world, place.sandboxed);
        test::plant_earlier_install(user.install_folder(), user.scripts_folder());
        const test::Run run = user.run({"--uninstall", "--silent"});
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_FALSE(fs::exists(user.install_folder()));
        EXPECT_FALSE(fs::exists(user.scripts_folder() / "Vellumo.py"));
        if (!place.sandboxed) continue;
        const std::optional<nlohmann::json> result = user.result();
        ASSERT_TRUE(result);
        EXPECT_EQ((*result)["ok"], true);
    }
}

}  // namespace
}  // namespace vellumo
