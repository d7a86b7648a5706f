// Processes under Wine: hidden runs with their exit codes and the kill after
// the time limit, a running program's file and the wait for its end, the
// process list, the single-instance mutex as a second process sees it, starts
// without waiting, and the search path.
#include <algorithm>
#include <string>

#include "engine/detection.hpp"
#include "platform/platform.hpp"
#include "windows/wine_world.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using platform::os;
using test::u16;

bool listed(const std::u16string& name) {
    const auto names = os().running_process_names();
    return names && std::find(names->begin(), names->end(), name) != names->end();
}

// A copy of the helper under `name` in a fresh folder.
fs::path helper_named(const std::wstring& name) {
    const fs::path copy = test::fresh_folder() / name;
    fs::copy_file(test::test_helper(), copy);
    return copy;
}

TEST(HiddenProcess, GivesTheExitCodeOrMinusOne) {
    const fs::path helper = test::test_helper();
    const fs::path cmd = L"C:\\windows\\system32\\cmd.exe";
    const struct {
        const char* what;
        fs::path program;
        std::wstring arguments;
        int code;
    } cases[] = {
        {"zero", helper, L"exit 0", 0},
        {"seven", helper, L"exit 7", 7},
        {"through cmd.exe", cmd, L"/c exit 3", 3},
        {"a missing program", test::fresh_folder() / L"missing.exe", L"", -1},
        {"a file that is no program", fs::path(test::windows_path(VELLUMO_PAGE_FILE)), L"", -1},
    };
    for (const auto& c : cases) {
        const std::wstring command_line = L"\"" + c.program.wstring() + L"\" " + c.arguments;
        EXPECT_EQ(os().run_hidden(u16(c.program.wstring()), u16(command_line), 3000), c.code)
            << c.what;
    }
}

TEST(HiddenProcess, OneThatRunsTooLongIsKilledAndGone) {
    const fs::path sleeper = helper_named(L"VellumoSleeper-" + std::to_wstring(GetCurrentProcessId()) + L".exe");
    const std::u16string name = u16(sleeper.filename().wstring());
    const std::u16string command_line = u16(L"\"" + sleeper.wstring() + L"\" sleep 60000");

    EXPECT_EQ(os().run_hidden(u16(sleeper.wstring()), command_line, 3000), -1);
    EXPECT_FALSE(listed(name));
    // Within its time it ends by itself.
    EXPECT_EQ(os().run_hidden(u16(sleeper.wstring()),
                              u16(L"\"" + sleeper.wstring() + L"\" sleep 100"), 3000),
              0);
}

// A running program's file cannot be deleted until the program has ended,
// and waiting for a program holds on to the one it was told.
TEST(RunningProgram, ItsFileIsInUseAndItCanBeWaitedFor) {
    using platform::FileRemoval;
    using platform::ProcessWait;
    const fs::path folder = test::fresh_folder();
    const fs::path sleeper = folder / L"VellumoWaited.exe";
    const fs::path twin = folder / L"VellumoTwin.exe";  // the same bytes, another file
    fs::copy_file(test::test_helper(), sleeper);
    fs::copy_file(test::test_helper(), twin);
    {
        test::Process running = test::start(sleeper, L"sleep 60000");
        ASSERT_TRUE(running);
        EXPECT_EQ(os().remove_file(sleeper), FileRemoval::in_use);
        EXPECT_EQ(os().wait_for_program_exit(running.id(), twin, 60000), ProcessWait::not_running);
        EXPECT_EQ(os().wait_for_program_exit(running.id(), sleeper, 100), ProcessWait::timed_out);
    }  // killed
    test::Process brief = test::start(sleeper, L"sleep 200");
    ASSERT_TRUE(brief);
    EXPECT_EQ(os().wait_for_program_exit(brief.id(), sleeper, 60000), ProcessWait::ended);
    EXPECT_EQ(brief.wait(), 0);
    EXPECT_EQ(os().wait_for_program_exit(0, sleeper, 60000), ProcessWait::not_running);

    EXPECT_EQ(os().remove_file(sleeper), FileRemoval::removed);
    EXPECT_EQ(os().remove_file(sleeper), FileRemoval::absent);
    EXPECT_EQ(os().remove_file(folder), FileRemoval::refused);
    SetFileAttributesW(twin.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(os().remove_file(twin), FileRemoval::refused);
    SetFileAttributesW(twin.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(ProcessList, FindsARunningCopyUnderItsNameInAnyLetterCase) {
    const std::wstring name = L"VellumoProbe-" + std::to_wstring(GetCurrentProcessId()) + L".Exe";
    const fs::path copy = helper_named(name);
    test::Process running = test::start(copy, L"sleep 60000");
    ASSERT_TRUE(running);

    ASSERT_TRUE(test::eventually([&] { return listed(u16(name)); }));
    std::wstring lower = name, upper = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    EXPECT_TRUE(is_process_running(u16(lower)));
    EXPECT_TRUE(is_process_running(u16(upper)));
    EXPECT_FALSE(is_process_running(u16(name + L".old")));
    EXPECT_FALSE(is_process_running(u16(name.substr(0, name.size() - 4))));
}

TEST(InstanceMutex, ASecondProcessSeesItUntilItIsReleased) {
    const std::wstring name = L"Local\\VellumoWineTest-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring probe = L"mutex " + name;

    ASSERT_EQ(os().create_instance_mutex(u16(name)), platform::InstanceMutex::created);
    EXPECT_EQ(test::start(test::test_helper(), probe).wait(), 183);
    os().release_instance_mutex();
    EXPECT_EQ(test::start(test::test_helper(), probe).wait(), 0);
}

TEST(InstanceMutex, OneThatExistsIsReported) {
    const std::wstring name = L"Local\\VellumoWineTest-held-" + std::to_wstring(GetCurrentProcessId());
    HANDLE other = CreateMutexW(nullptr, TRUE, name.c_str());
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(os().create_instance_mutex(u16(name)), platform::InstanceMutex::already_exists);
    CloseHandle(other);
}

TEST(StartProcess, StartsWithoutWaitingAndReportsAFailedStart) {
    const fs::path sleeper = helper_named(L"VellumoStarted-" + std::to_wstring(GetCurrentProcessId()) + L".exe");
    const std::u16string name = u16(sleeper.filename().wstring());
    const platform::HeldFolder folder(sleeper.parent_path(), -1);
    ASSERT_TRUE(os().start_process(folder, sleeper.filename(),
                                   u16(L"\"" + sleeper.wstring() + L"\" sleep 2000"), {}));
    EXPECT_TRUE(listed(name));  // started, and not waited for
    EXPECT_TRUE(test::eventually([&] { return !listed(name); }));

    const fs::path missing = test::fresh_folder() / L"missing.exe";
    EXPECT_FALSE(os().start_process(platform::HeldFolder(missing.parent_path(), -1), L"missing.exe",
                                    u16(L"\"" + missing.wstring() + L"\""), {}));
}

// Only the absolute folders of PATH, in order: never the current folder or
// the program's own, where a downloaded setup would find a planted file.
TEST(SearchPath, LooksInTheAbsoluteFoldersOfThePathOnly) {
    const fs::path current = test::fresh_folder();
    const fs::path first = test::fresh_folder();
    const fs::path second = test::fresh_folder();
    const std::wstring name = L"vellumo-search-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    for (const auto& folder : {current, second}) test::write_bytes(folder / name, "MZ");
    ASSERT_TRUE(SetCurrentDirectoryW(current.c_str()));

    const std::wstring path = L"relative;" + first.wstring() + L";" + second.wstring();
    ASSERT_TRUE(SetEnvironmentVariableW(L"PATH", path.c_str()));
    EXPECT_EQ(os().search_path(u16(name)), second / name);

    ASSERT_TRUE(SetEnvironmentVariableW(L"PATH", L"relative;."));
    EXPECT_EQ(os().search_path(u16(name)), fs::path());
}

}  // namespace
}  // namespace vellumo
