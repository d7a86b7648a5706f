// Eight silent installs started at once in one sandbox, round after round.
// step_shim holds each program at its first step in the sandbox until the test
// opens the gate, so the test sees, without timing anything, that only one
// program got that far (one job at a time) and that the other seven exited 0
// while it was held (at once, without waiting for the job).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "cli/step_runs.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using test::ProgramWorld;

constexpr int instances = 8;
constexpr int rounds = 4;

// Whether the child `pid` has ended; it is left to be reaped.
bool has_ended(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

// Eight installs per round, `rounds` rounds, in `world`.
void expect_one_job_at_a_time(ProgramWorld& world, int rounds) {
    for (int round = 1; round <= rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const fs::path gate = world.root() / ("gate-" + std::to_string(round));
        fs::create_directory(gate);
        fs::remove(world.sandbox() / "result.json");

        std::vector<ProgramWorld::Started> started;
        {
            const test::StepShim shim(world.env(),
                                      test::Steps{.gate = gate, .under = world.sandbox()});
            for (int i = 0; i < instances; ++i)
                started.push_back(world.start(test::big_setup_program(), {"--silent"}));
        }
        ASSERT_TRUE(test::eventually([&] { return !test::held_at(gate).empty(); }));
        const pid_t holder = test::held_at(gate).front();

        // The others end while the job is held; one that ran a job as well
        // is held beside it, one that waited for the job is killed after a
        // minute.
        const auto others_ended = [&] {
            return std::all_of(started.begin(), started.end(), [&](const auto& s) {
                return s.pid == holder || has_ended(s.pid);
            });
        };
        test::eventually([&] { return test::held_at(gate).size() > 1 || others_ended(); },
                         std::chrono::seconds(60));
        EXPECT_EQ(test::held_at(gate), std::vector<pid_t>{holder});
        EXPECT_FALSE(fs::exists(world.sandbox() / "result.json"));
        if (test::held_at(gate).size() > 1)
            test::write_text(gate / "open", "");  // let them all end
        for (const ProgramWorld::Started& other : started) {
            if (other.pid == holder) continue;
            const test::Run run = world.finish(other);
            EXPECT_EQ(run.exit_code, 0) << run.err;
        }

        test::write_text(gate / "open", "");
        const auto job = std::find_if(started.begin(), started.end(),
                                      [&](const auto& s) { return s.pid == holder; });
        ASSERT_NE(job, started.end());
        const test::Run run = world.finish(*job);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_TRUE(fs::exists(world.sandbox() / "result.json"));
        EXPECT_EQ(test::installed_state_problem(world), "");
        EXPECT_EQ(test::leftovers(world), std::vector<fs::path>{});
        if (::testing::Test::HasFailure()) return;  // a round that failed takes minutes
    }
}

TEST(Concurrency, EightSilentInstallsRunOneJobAndTheOthersExitAtOnce) {
    ProgramWorld world;
    expect_one_job_at_a_time(world, rounds);
}

// Another user's folder at the name a fallback in the shared temporary folder
// would have takes nothing away: without a private runtime folder, the guard
// lives in the user's own cache folder.
TEST(Concurrency, GuardHoldsWhenAnotherUserTookTheSharedName) {
    ProgramWorld world;
    world.env().unset("XDG_RUNTIME_DIR");
    const fs::path taken = world.tmp() / ("vellumo-" + std::to_string(::geteuid()));
    fs::create_directory(taken);
    fs::permissions(taken, fs::perms(0700), fs::perm_options::replace);
    constexpr uid_t nobody = 65534;
    ASSERT_EQ(::chown(taken.c_str(), nobody, nobody), 0);
    expect_one_job_at_a_time(world, 1);
}

// A cache folder that is a link (to another disk, to a tmpfs) is the user's
// own layout: the guard lives where it leads.
TEST(Concurrency, GuardHoldsWithALinkedCacheFolder) {
    ProgramWorld world;
    world.env().unset("XDG_RUNTIME_DIR");
    const fs::path elsewhere = world.root() / "elsewhere";
    fs::create_directory(elsewhere);
    fs::create_directory_symlink(elsewhere, world.root() / "cache");
    expect_one_job_at_a_time(world, 1);
}

}  // namespace
}  // namespace vellumo
