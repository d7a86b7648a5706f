// A disk that fails, during an install over an earlier one, the flush of one
// new file or every move away from its temporary name: the file the earlier
// install registered keeps its bytes at its name, the install reports the
// failure, and the next install completes the installation.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "cli/step_runs.hpp"

namespace vellumo {
namespace {

const std::vector<std::string> install_arguments{"--silent"};
const std::string registering = "Could not finish registering the installation.";

struct FailureCase {
    const char* file;  // in the install folder
    const char* kind;  // the step of the shim that fails
    std::string error;
};

TEST(DiskFailure, AFailedFlushOrMoveKeepsTheEarlierFileAtItsName) {
    const FailureCase cases[] = {
        {"VellumoCompanion.exe", "fsync", "The disk may be full."},
        {"VellumoCompanion.exe", "rename",
         "Could not replace VellumoCompanion.exe. Close it and try again."},
        {"uninstall.exe", "fsync", registering},
        {"uninstall.exe", "rename", registering},
        {"install.json", "fsync", registering},
        {"install.json", "rename", registering},
    };
    const std::string earlier = "{\"earlier\": true}";
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " of " + c.file);
        test::ProgramWorld world;
        const test::Run first = world.run(test::big_setup_program(), install_arguments);
        ASSERT_EQ(first.exit_code, 0) << first.err;
        const std::filesystem::path file = world.install_folder() / c.file;
        test::write_text(file, earlier);

        const test::Run failed = test::run_with_steps(
            world, install_arguments,
            test::Steps{.fail = std::string(c.kind) + ":" + c.file + temporary_suffix});
        EXPECT_EQ(failed.exit_code, 1) << failed.err;
        const auto result = nlohmann::json::parse(
            test::read_text(world.sandbox() / "result.json").value_or(""), nullptr, false);
        EXPECT_EQ(result.value("error", ""), c.error) << result.dump();
        EXPECT_EQ(test::read_text(file), earlier);
        EXPECT_EQ(test::leftovers(world), std::vector<std::filesystem::path>{});

        const test::Run again = world.run(test::big_setup_program(), install_arguments);
        EXPECT_EQ(again.exit_code, 0) << again.err;
        EXPECT_EQ(test::installed_state_problem(world), "");
    }
}

}  // namespace
}  // namespace vellumo
