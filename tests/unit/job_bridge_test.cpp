// The job bridge, the progress events and the desktop bindings, with a fake
// page channel that queues dispatched tasks until the test runs them.
#include "app/job_bridge.hpp"

#include <gtest/gtest.h>

#include <deque>

#include "app/bindings.hpp"
#include "engine/text.hpp"
#include "platform/platform.hpp"
#include "sandbox_fixture.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;

struct FakeChannel : PageChannel {
    struct Resolved {
        std::string id;
        int status;
        std::string result;
        bool busy_then;  // the flag when the reply went out
    };
    std::vector<Resolved> resolved;
    std::vector<std::string> evaluated;
    std::deque<std::function<void()>> tasks;
    std::mutex lock;
    const std::atomic<bool>* busy = nullptr;
    std::function<void()> posted;  // told of each dispatch, on the posting thread

    void resolve(const std::string& id, int status, const std::string& result) override {
        resolved.push_back({id, status, result, busy && busy->load()});
    }
    void dispatch(std::function<void()> task) override {
        if (posted) posted();
        std::lock_guard<std::mutex> hold(lock);
        tasks.push_back(std::move(task));
    }
    void eval(const std::string& script) override { evaluated.push_back(script); }

    // Runs posted tasks, as the user-interface loop would, until `done`.
    void run_until(const std::function<bool()>& done) {
        for (int i = 0; i < 3000 && !done(); ++i) {
            std::function<void()> task;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (!tasks.empty()) {
                    task = std::move(tasks.front());
                    tasks.pop_front();
                }
            }
            if (task) task();
            else std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
};

TEST(ProgressScript, WrapsTheCompactEvent) {
    struct Case {
        int pct;
        std::string label;
        std::string event;
    };
    const Case cases[] = {
        {4, "Checking the installer", R"({"label":"Checking the installer","pct":4})"},
        {100, "Done", R"({"label":"Done","pct":100})"},
        {50, "say \"hi\" \\ there", R"({"label":"say \"hi\" \\ there","pct":50})"},
        {7, "J\xC3\xB6rg \xE2\x80\x94 ok", "{\"label\":\"J\xC3\xB6rg \xE2\x80\x94 ok\",\"pct\":7}"},
        {-5, "", R"({"label":"","pct":-5})"},
        {250, "tab\there", R"({"label":"tab\there","pct":250})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress_script(c.pct, c.label),
                  "window.setupProgress&&window.setupProgress(" + c.event + ")");
}

TEST(JobReplies, AreCompactWithSortedKeys) {
    EXPECT_EQ(busy_reply(), R"({"error":"Already working.","ok":false})");
    EXPECT_EQ(stopped_reply(),
              R"({"error":"Setup stopped before finishing. Some steps may have completed; retry to finish.","notes":[],"ok":false})");
}

class JobBridge : public test::SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        channel.busy = &busy;
    }
    void TearDown() override {
        if (worker.joinable()) worker.join();
        SandboxTest::TearDown();
    }
    std::size_t replies() const { return channel.resolved.size(); }

    FakeChannel channel;
    std::atomic<bool> busy{false};
    std::thread worker;
    JobControl control{&channel, &busy, &worker};
};

TEST_F(JobBridge, RunsOneJobAtATimeAndPostsProgressBeforeTheReply) {
    on_setup_install(control, "1", R"([{"window": true}, 5])");
    EXPECT_TRUE(busy.load());
    on_setup_uninstall(control, "2");  // while the install runs
    ASSERT_EQ(replies(), 1u);
    EXPECT_EQ(channel.resolved[0].id, "2");
    EXPECT_EQ(channel.resolved[0].result, busy_reply());

    channel.run_until([&] { return replies() == 2; });
    ASSERT_EQ(replies(), 2u);
    const auto& reply = channel.resolved[1];
    EXPECT_EQ(reply.id, "1");
    EXPECT_EQ(reply.status, 0);
    EXPECT_FALSE(reply.busy_then) << "the flag is clear before the reply";
    EXPECT_EQ(reply.result, R"({"error":"","notes":["python","no-resolve"],"ok":true})");
    EXPECT_EQ(channel.evaluated,
              (std::vector<std::string>{progress_script(4, "Checking the installer"),
                                        progress_script(18, "Installing the Vellumo window"),
                                        progress_script(40, "Adding Vellumo to Resolve's Scripts menu"),
                                        progress_script(58, "Adding the setup guide"),
                                        progress_script(82, "Registering with Windows"),
                                        progress_script(100, "Done")}));

    // The reply frees the bridge: a job asked for in answer is accepted.
    channel.evaluated.clear();
    on_setup_uninstall(control, "3");
    channel.run_until([&] { return replies() == 3; });
    EXPECT_EQ(channel.resolved[2].result, R"({"error":"","notes":[],"ok":true})");
    EXPECT_EQ(channel.evaluated.size(), 5u);
    EXPECT_FALSE(fs::exists(install_folder()));
}

TEST_F(JobBridge, AnExceptionInTheJobGivesTheCatchAllReply) {
    struct ThrowingListing : platform::System {
        std::optional<std::vector<std::u16string>> running_process_names() override {
            throw std::runtime_error("process list");
        }
    } throwing;
    platform::ScopedSystem use(throwing);
    on_setup_install(control, "9", "not json");
    channel.run_until([&] { return replies() == 1; });
    ASSERT_EQ(replies(), 1u);
    EXPECT_EQ(channel.resolved[0].result, stopped_reply());
    EXPECT_FALSE(busy.load());
}

// What the worker does with its apartment and when it posts, in order, by
// thread: the worker enters once and leaves once before its reply goes out.
struct ApartmentJournal : platform::System {
    bool job_throws = false;
    std::mutex lock;
    std::vector<std::pair<std::string, std::thread::id>> entries;

    void note(const std::string& what) {
        std::lock_guard<std::mutex> hold(lock);
        entries.emplace_back(what, std::this_thread::get_id());
    }
    void enter_com_apartment() override { note("enter"); }
    void leave_com_apartment() override { note("leave"); }
    std::optional<std::vector<std::u16string>> running_process_names() override {
        if (job_throws) throw std::runtime_error("process list");
        return System::running_process_names();
    }
};

TEST_F(JobBridge, TheWorkerLeavesItsApartmentBeforeItsReplyGoesOut) {
    for (const bool throws : {false, true}) {
        ApartmentJournal journal;
        journal.job_throws = throws;
        platform::ScopedSystem use(journal);
        channel.posted = [&] { journal.note("post"); };
        on_setup_install(control, "1", "[]");
        channel.run_until([&] { return replies() == 1; });
        worker.join();
        channel.resolved.clear();

        std::vector<std::string> apartment;
        for (const auto& [what, thread] : journal.entries) {
            EXPECT_EQ(thread, journal.entries.front().second) << what;
            if (what != "post") apartment.push_back(what);
        }
        EXPECT_NE(journal.entries.front().second, std::this_thread::get_id());
        EXPECT_EQ(apartment, (std::vector<std::string>{"enter", "leave"})) << "throws: " << throws;
        // The reply is the last post, after the apartment is left.
        ASSERT_GE(journal.entries.size(), 2u);
        EXPECT_EQ(journal.entries.rbegin()[1].first, "leave") << "throws: " << throws;
        EXPECT_EQ(journal.entries.back().first, "post") << "throws: " << throws;
    }
    channel.posted = nullptr;
}

TEST(SingleStringArgument, AcceptsExactlyOneString) {
    struct Case {
        const char* request;
        std::optional<std::string> argument;
    };
    const Case cases[] = {
        {R"(["app"])", "app"},       {R"([])", std::nullopt},
        {R"(["a","b"])", std::nullopt}, {R"([["app"]])", std::nullopt},
        {R"([3])", std::nullopt},    {R"([null])", std::nullopt},
        {R"("app")", std::nullopt},  {R"({"0":"app"})", std::nullopt},
        {R"(["app"] x)", std::nullopt}, {"", std::nullopt},
        {R"(["app" /* c */])", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(single_string_argument(c.request), c.argument) << c.request;
}

// Records what the bindings ask of the desktop.
struct DesktopSystem : platform::System {
    std::vector<std::pair<std::string, std::string>> opened;  // target, folder
    std::vector<std::string> window_calls;
    void open_with_default_handler(std::u16string_view target,
                                   const fs::path& folder) override {
        opened.emplace_back(to_utf8(std::u16string(target)), folder.string());
    }
    void begin_window_drag(void*) override { window_calls.push_back("drag"); }
    void minimize_window(void*) override { window_calls.push_back("minimize"); }
};

TEST(SetupOpen, OpensTheKnownTargetsOnly) {
    test::HermeticEnv env;
    sandbox_root = env.root() / "sb";
    const std::string folder = (sandbox_root / "Local" / "Programs" / "Vellumo for DaVinci Resolve").string();
    struct Case {
        const char* request;
        std::vector<std::pair<std::string, std::string>> opened;
    };
    const Case cases[] = {
        {R"(["app"])", {{folder + "/VellumoCompanion.exe", folder}}},
        {R"(["folder"])", {{folder, ""}}},
        {R"(["site"])", {{"https://vellumo.app/", ""}}},
        {R"(["help"])", {{"https://vellumo.app/download", ""}}},
        {R"(["python"])", {{"https://www.python.org/downloads/windows/", ""}}},
        {R"(["App"])", {}},
        {R"(["app "])", {}},
        {R"(["sites"])", {}},
        {R"(["app","site"])", {}},
        {R"(42)", {}},
    };
    for (const auto& c : cases) {
        DesktopSystem desktop;
        platform::ScopedSystem use(desktop);
        EXPECT_EQ(on_setup_open(c.request), "null");
        EXPECT_EQ(desktop.opened, c.opened) << c.request;
    }
    sandbox_root.clear();
}

TEST(SetupWindow, DragsMinimisesAndClosesOnlyWhenIdle) {
    struct Case {
        const char* request;
        bool busy;
        bool with_window;
        std::vector<std::string> calls;
        bool terminated;
    };
    const Case cases[] = {
        {R"(["drag"])", false, true, {"drag"}, false},
        {R"(["minimize"])", true, true, {"minimize"}, false},
        {R"(["close"])", false, true, {}, true},
        {R"(["close"])", true, true, {}, false},
        {R"(["Close"])", false, true, {}, false},
        {R"(["maximize"])", false, true, {}, false},
        {R"([])", false, true, {}, false},
        {R"(["close"])", false, false, {}, false},
        {R"(["drag"])", false, false, {}, false},
    };
    int native_window = 0;
    for (const auto& c : cases) {
        DesktopSystem desktop;
        platform::ScopedSystem use(desktop);
        std::atomic<bool> busy{c.busy};
        bool terminated = false;
        EXPECT_EQ(on_setup_window(c.request, c.with_window ? &native_window : nullptr,
                                  [&] { terminated = true; }, busy),
                  "null");
        EXPECT_EQ(desktop.window_calls, c.calls) << c.request;
        EXPECT_EQ(terminated, c.terminated) << c.request;
    }
}

}  // namespace
}  // namespace vellumo
