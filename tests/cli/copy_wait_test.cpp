// The copy that the uninstall hand-off starts waits for its original to end:
// the original's process id travels in the copy's name.
#include <gtest/gtest.h>

#include "app/startup.hpp"
#include "cli/program.hpp"
#include "engine/locations.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;

TEST(CopyOfTheHandOff, ReadsItsOriginalsIdFromItsOwnNameOnly) {
    const struct {
        const char* name;
        std::optional<std::uint32_t> id;
    } cases[] = {
        {"VellumoUninstall-4012.exe", 4012},
        {"/some/folder/VellumoUninstall-7.exe", 7},
        {"VellumoUninstall-0.exe", 0},
        {"VellumoUninstall-4294967295.exe", 4294967295u},
        {"VellumoUninstall-4294967296.exe", std::nullopt},
        {"VellumoUninstall-99999999999999999999.exe", std::nullopt},
        {"VellumoUninstall-04012.exe", std::nullopt},
        {"VellumoUninstall-.exe", std::nullopt},
        {"VellumoUninstall-12x.exe", std::nullopt},
        {"VellumoUninstall-12.exe.exe", std::nullopt},
        {"VellumoUninstall-12.EXE", std::nullopt},
        {"vellumouninstall-12.exe", std::nullopt},
        {"uninstall.exe", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(original_process_id(c.name), c.id) << c.name;
}

// The running executable under a test's control, and the waits it asks for.
struct WaitRecorder : platform::System {
    fs::path exe;
    struct Wait {
        std::uint32_t id;
        fs::path program;
        std::uint32_t timeout_ms;
        bool operator==(const Wait&) const = default;
    };
    std::vector<Wait> waits;

    fs::path executable_path() override { return exe; }
    platform::ProcessWait wait_for_program_exit(std::uint32_t id, const fs::path& program,
                                                std::uint32_t timeout_ms) override {
        waits.push_back({id, program, timeout_ms});
        return platform::ProcessWait::ended;
    }
};

TEST(CopyOfTheHandOff, WaitsForTheInstalledUninstallerWithItsId) {
    test::ProgramWorld world;
    sandbox_root = world.sandbox();
    WaitRecorder system;
    const platform::ScopedSystem scoped(system);
    const fs::path uninstaller = install_dir() / "uninstall.exe";

    system.exe = world.runtime() / "VellumoUninstall-4012.exe";
    wait_for_original();
    const std::vector<WaitRecorder::Wait> expected{{4012, uninstaller, 30000}};
    EXPECT_EQ(system.waits, expected);

    // Started by hand under another name: no original to wait for.
    system.waits.clear();
    system.exe = world.runtime() / "uninstall.exe";
    wait_for_original();
    EXPECT_TRUE(system.waits.empty());
    sandbox_root.clear();
}

}  // namespace
}  // namespace vellumo
