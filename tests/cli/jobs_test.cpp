// A job's outcome as the JobReply document, and a job that an exception ends.
#include <gtest/gtest.h>

#include "app/jobs.hpp"
#include "cli/program.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

struct ReplyCase {
    const char* name;
    JobResult result;
    const char* compact;
    friend void PrintTo(const ReplyCase& c, std::ostream* out) { *out << c.name; }
};

JobResult make_result(bool ok, std::string error, std::vector<std::string> notes) {
    JobResult result;
    result.ok = ok;
    result.error = std::move(error);
    result.notes = std::move(notes);
    result.manifest = {{"files", {"/somewhere/file"}}, {"version", "0.4.4"}};  // never sent
    return result;
}

class JobReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(JobReply, HasErrorNotesAndOkOnly) {
    EXPECT_EQ(job_result_to_json(GetParam().result).dump(-1, ' ', false,
                                                         nlohmann::json::error_handler_t::strict),
              GetParam().compact);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JobReply,
    testing::Values(
        ReplyCase{"SuccessWithoutNotes", make_result(true, "", {}),
                  R"({"error":"","notes":[],"ok":true})"},
        ReplyCase{"SuccessWithNotesInOrder",
                  make_result(true, "", {"python", "no-resolve", "restart-resolve"}),
                  R"({"error":"","notes":["python","no-resolve","restart-resolve"],"ok":true})"},
        ReplyCase{"FailureKeepsItsNotes",
                  make_result(false, "Could not finish registering the installation.", {"python"}),
                  R"({"error":"Could not finish registering the installation.","notes":["python"],"ok":false})"},
        ReplyCase{"TextBeyondAsciiStaysUtf8", make_result(false, "Fichier « Vellumo.py » verrouillé.", {}),
                  R"({"error":"Fichier « Vellumo.py » verrouillé.","notes":[],"ok":false})"},
        ReplyCase{"Default", JobResult{}, R"({"error":"","notes":[],"ok":false})"}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

// A job that an exception ends, here from its progress callback late in the
// install (after the notes were gathered) or at the uninstall's first report.
TEST(EngineJob, ExceptionBecomesTheStoppedReplyWithoutNotes) {
    test::ProgramWorld world;
    sandbox_root = world.sandbox();
    for (const bool uninstall : {false, true}) {
        SCOPED_TRACE(uninstall ? "uninstall" : "install");
        int reports = 0;
        const ProgressFn failing = [&](int percent, const std::string&) {
            ++reports;
            if (uninstall || percent >= 82) throw std::runtime_error("progress failed");
        };
        const JobResult result = run_engine_job(uninstall, failing);
        EXPECT_GT(reports, 0);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, job_stopped_message);
        EXPECT_EQ(result.notes, std::vector<std::string>{});
        EXPECT_EQ(result.manifest, nlohmann::json::object());
        EXPECT_EQ(job_result_to_json(result).dump(),
                  R"({"error":"Setup stopped before finishing. Some steps may have completed; retry to finish.","notes":[],"ok":false})");
    }
    sandbox_root.clear();
}

}  // namespace
}  // namespace vellumo
