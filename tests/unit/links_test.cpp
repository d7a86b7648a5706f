// The link rule: below the known folders (the sandbox's Local, Roaming and
// StartMenu here), a link at any folder of a path, or at the file itself,
// keeps the install from writing and the uninstall from removing through it.
#include "engine/links.hpp"

#include <gtest/gtest.h>

#include "engine/install_record.hpp"
#include "engine/uninstall.hpp"
#include "file_tree.hpp"
#include "sandbox_fixture.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using test::Tree;
using test::tree_of;
using test::write_text;

const fs::path programs = fs::path("Local") / "Programs";
const fs::path install = programs / "Vellumo for DaVinci Resolve";
const fs::path blackmagic = fs::path("Roaming") / "Blackmagic Design";
const fs::path scripts =
    blackmagic / "DaVinci Resolve" / "Support" / "Fusion" / "Scripts" / "Utility";
const fs::path settings = fs::path("Roaming") / "Vellumo";

struct LinkCase {
    const char* what;
    fs::path link;                       // below the sandbox, made a link to a place elsewhere
    std::vector<fs::path> elsewhere;     // files made there, below the link's target folder;
                                         // none: the link points to a file
    std::vector<fs::path> recorded;      // install.json's "files" and "shortcuts"
    std::string install_error;           // empty when the install goes through
    bool removed_by_uninstall = false;   // a recorded file that is itself a link
};

const std::vector<LinkCase> link_cases = {
    {"a folder in the install folder", install / "sub",
     {"VellumoCompanion.exe", "deeper/file.txt"},
     {install / "sub/VellumoCompanion.exe", install / "sub/deeper/file.txt"}, ""},
    {"a folder in the roaming folder", "Roaming/Other", {"file.txt"}, {"Roaming/Other/file.txt"},
     ""},
    {"a folder in the Start menu", "StartMenu/Vellumo", {"Guide.lnk", "file.txt"},
     {"StartMenu/Vellumo/Guide.lnk", "StartMenu/Vellumo/file.txt"}, ""},
    {"the install folder", install,
     {"VellumoCompanion.exe", "SETUP.md", "install.json", "uninstall.exe", "x.old-1",
      "y.vellumo-new", "sub/file.txt"},
     {install / "VellumoCompanion.exe", install / "sub/file.txt"},
     "A link is in the way of Vellumo for DaVinci Resolve."},
    {"Local/Programs", programs,
     {"Vellumo for DaVinci Resolve/VellumoCompanion.exe", "Vellumo for DaVinci Resolve/SETUP.md",
      "Vellumo for DaVinci Resolve/uninstall.exe", "Vellumo for DaVinci Resolve/x.old-1"},
     {install / "VellumoCompanion.exe"}, "A link is in the way of Vellumo for DaVinci Resolve."},
    {"Roaming/Blackmagic Design", blackmagic,
     {"DaVinci Resolve/Support/Fusion/Scripts/Utility/Vellumo.py"}, {scripts / "Vellumo.py"},
     "A link is in the way of Vellumo.py."},
    {"the settings folder", settings, {"resolve.json", "companion.txt"}, {}, ""},
    {"an installed file", install / "VellumoCompanion.exe", {}, {install / "VellumoCompanion.exe"},
     "A link is in the way of VellumoCompanion.exe.", true},
    {"the Resolve script", scripts / "Vellumo.py", {}, {scripts / "Vellumo.py"},
     "A link is in the way of Vellumo.py.", true},
    {"install.json", install / "install.json", {}, {},
     "Could not finish registering the installation.", true},
    {"uninstall.exe", install / "uninstall.exe", {}, {},
     "Could not finish registering the installation.", true},
    {"a settings file", settings / "resolve.json", {}, {}, "", true},
};

class Links : public test::SandboxTest {
protected:
    fs::path elsewhere() const { return env.root() / "elsewhere"; }

    // Replaces what stands at the case's path with a link to a place
    // outside the sandbox that holds the case's files.
    void plant(const LinkCase& c) {
        const fs::path target = elsewhere() / "target";
        if (c.elsewhere.empty()) write_text(target, "someone else's");
        for (const fs::path& file : c.elsewhere) write_text(target / file, "someone else's");
        fs::remove_all(sb() / c.link);
        fs::create_directories((sb() / c.link).parent_path());
        fs::create_symlink(target, sb() / c.link);
    }

    // install.json naming the case's files; through the link where there is one.
    void record(const LinkCase& c) {
        nlohmann::json files = nlohmann::json::array();
        for (const fs::path& file : c.recorded) files.push_back((sb() / file).string());
        write_text(install_folder() / "install.json",
                   nlohmann::json{{"files", files}, {"shortcuts", files}}.dump());
    }

    bool is_link(const fs::path& below_sandbox) const {
        return fs::is_symlink(fs::symlink_status(sb() / below_sandbox));
    }
};

TEST_F(Links, NeitherInstallNorUninstallGoesThroughAPlantedLink) {
    for (const LinkCase& c : link_cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(sb());
        fs::remove_all(elsewhere());
        payload_files.clear();
        ASSERT_TRUE(run_install(recorder()).ok);
        plant(c);
        record(c);
        Tree before = tree_of(elsewhere());

        const JobResult installed = run_install(recorder());
        EXPECT_EQ(installed.ok, c.install_error.empty());
        EXPECT_EQ(installed.error, c.install_error);
        EXPECT_EQ(tree_of(elsewhere()), before) << "the install wrote through the link";
        EXPECT_TRUE(is_link(c.link));

        record(c);
        before = tree_of(elsewhere());
        ASSERT_TRUE(run_uninstall(recorder()).ok);
        EXPECT_EQ(tree_of(elsewhere()), before) << "the uninstall removed through the link";
        EXPECT_EQ(is_link(c.link), !c.removed_by_uninstall);
    }
}

// What the install of the first case leaves beside the link goes as usual.
TEST_F(Links, TheUninstallRemovesWhatLiesBesideALink) {
    ASSERT_TRUE(run_install(recorder()).ok);
    plant(link_cases[0]);
    ASSERT_TRUE(run_uninstall(recorder()).ok);
    EXPECT_FALSE(fs::exists(install_folder() / "VellumoCompanion.exe"));
    EXPECT_FALSE(fs::exists(install_folder() / "install.json"));
    EXPECT_FALSE(fs::exists(scripts_folder() / "Vellumo.py"));
    EXPECT_TRUE(is_link(link_cases[0].link)) << "and the folder holding it stays";
}

TEST(LinkInTheWay, TrustsTheRootAndWhatIsAboveIt) {
    test::HermeticEnv env;
    const fs::path r = env.root();
    fs::create_directories(r / "real/root/real-sub");
    fs::create_directory_symlink(r / "real", r / "above");
    fs::create_directory_symlink(r / "real/root", r / "root-link");
    fs::create_directory_symlink("real-sub", r / "real/root/sub-link");
    write_text(r / "real/root/real-sub/file", "x");
    fs::create_symlink("file", r / "real/root/real-sub/file-link");
    struct Case {
        fs::path path;
        fs::path root;
        bool in_the_way;
    };
    const Case cases[] = {
        {r / "above/root/real-sub/file", r / "above/root", false},
        {r / "root-link/real-sub/file", r / "root-link", false},
        {r / "root-link/real-sub/missing/deeper", r / "root-link", false},
        {r / "root-link", r / "root-link", false},
        {r / "root-link/sub-link/file", r / "root-link", true},
        {r / "root-link/sub-link", r / "root-link", true},
        {r / "root-link/real-sub/file-link", r / "root-link", true},
        {r / "real/root/sub-link/file", r / "real", true},
        {r / "elsewhere/file", r / "root-link", true},
        {r / "root-linked/file", r / "root-link", true},
        {"relative/file", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(link_in_the_way(c.path, c.root), c.in_the_way) << c.path << " below " << c.root;
}

}  // namespace
}  // namespace vellumo
