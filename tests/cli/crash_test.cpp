// Crash consistency: an install and an uninstall of a payload of some
// megabytes, killed with SIGKILL right after each step that leaves something
// on disk (a rename, an fsync, an open for writing) and at timed points. The
// next run always finishes the job.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "cli/step_runs.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using test::big_setup_program;
using test::ProgramWorld;
using test::Run;
using test::Steps;

const std::vector<std::string> install_arguments{"--silent"};
const std::vector<std::string> uninstall_arguments{"--uninstall", "--silent"};
// Timed kills at these fractions of an undisturbed run, in eighths.
constexpr int timed_points = 7;

struct Recording {
    std::vector<std::string> steps;  // "PID KIND PATH"
    std::chrono::microseconds duration{};
};

// The steps of one undisturbed run with `arguments` in `world`.
Recording record(ProgramWorld& world, const std::vector<std::string>& arguments) {
    const fs::path log = world.root() / "steps.log";
    fs::remove(log);
    const auto start = std::chrono::steady_clock::now();
    const Run run = test::run_with_steps(world, arguments, Steps{.log = log});
    Recording recording;
    recording.duration = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    recording.steps = test::step_log(log);
    return recording;
}

void install(ProgramWorld& world) {
    const Run run = world.run(big_setup_program(), install_arguments);
    ASSERT_EQ(run.exit_code, 0) << run.err;
}

// After a killed install: the next run completes the installation, and the one
// after it leaves no temporary or backup file behind.
void expect_install_completed(ProgramWorld& world) {
    const Run again = world.run(big_setup_program(), install_arguments);
    EXPECT_EQ(again.exit_code, 0) << again.err;
    EXPECT_EQ(test::installed_state_problem(world), "");
    const Run once_more = world.run(big_setup_program(), install_arguments);
    EXPECT_EQ(once_more.exit_code, 0) << once_more.err;
    EXPECT_EQ(test::leftovers(world), std::vector<fs::path>{});
    EXPECT_EQ(test::installed_state_problem(world), "");
}

// After a killed uninstall: the next run removes everything the install made.
void expect_uninstall_completed(ProgramWorld& world) {
    const Run again = world.run(big_setup_program(), uninstall_arguments);
    EXPECT_EQ(again.exit_code, 0) << again.err;
    EXPECT_EQ(test::uninstalled_state_problem(world, test::installed_files(world)), "");
}

TEST(CrashConsistency, UndisturbedInstallIsComplete) {
    ProgramWorld world;
    ASSERT_NO_FATAL_FAILURE(install(world));
    EXPECT_EQ(test::installed_state_problem(world), "");
    EXPECT_EQ(test::leftovers(world), std::vector<fs::path>{});
}

TEST(CrashConsistency, InstallKilledAfterAnyStepIsCompletedByTheNextRun) {
    std::vector<std::string> steps;
    {
        ProgramWorld world;
        steps = record(world, install_arguments).steps;
    }
    ASSERT_FALSE(steps.empty());
    for (std::size_t n = 1; n <= steps.size(); ++n) {
        SCOPED_TRACE("killed after step " + std::to_string(n) + " of " +
                     std::to_string(steps.size()) + ": " + steps[n - 1]);
        ProgramWorld world;
        test::run_with_steps(world, install_arguments, Steps{.kill_at = static_cast<long>(n)});
        expect_install_completed(world);
    }
}

TEST(CrashConsistency, InstallOverAnInstallationKilledAtTimedPointsIsCompleted) {
    ProgramWorld world;
    ASSERT_NO_FATAL_FAILURE(install(world));
    const auto duration = record(world, install_arguments).duration;
    for (int k = 1; k <= timed_points; ++k) {
        const auto after = duration * k / (timed_points + 1);
        SCOPED_TRACE("killed after " + std::to_string(after.count()) + " us");
        test::run_with_steps(world, install_arguments, Steps{.kill_after_us = after.count()});
        expect_install_completed(world);
    }
}

TEST(CrashConsistency, UninstallKilledAfterAnyStepIsCompletedByTheNextRun) {
    std::vector<std::string> steps;
    {
        ProgramWorld world;
        ASSERT_NO_FATAL_FAILURE(install(world));
        steps = record(world, uninstall_arguments).steps;
    }
    ASSERT_FALSE(steps.empty());
    for (std::size_t n = 1; n <= steps.size(); ++n) {
        SCOPED_TRACE("killed after step " + std::to_string(n) + " of " +
                     std::to_string(steps.size()) + ": " + steps[n - 1]);
        ProgramWorld world;
        ASSERT_NO_FATAL_FAILURE(install(world));
        test::run_with_steps(world, uninstall_arguments, Steps{.kill_at = static_cast<long>(n)});
        expect_uninstall_completed(world);
    }
}

TEST(CrashConsistency, UninstallKilledAtTimedPointsIsCompletedByTheNextRun) {
    std::chrono::microseconds duration{};
    {
        ProgramWorld world;
        ASSERT_NO_FATAL_FAILURE(install(world));
        duration = record(world, uninstall_arguments).duration;
    }
    for (int k = 1; k <= timed_points; ++k) {
        const auto after = duration * k / (timed_points + 1);
        SCOPED_TRACE("killed after " + std::to_string(after.count()) + " us");
        ProgramWorld world;
        ASSERT_NO_FATAL_FAILURE(install(world));
        test::run_with_steps(world, uninstall_arguments, Steps{.kill_after_us = after.count()});
        expect_uninstall_completed(world);
    }
}

}  // namespace
}  // namespace vellumo
