// The web-view engine and the lock-down in a real window, on the X display
// that xvfb-run gives (a 1280 x 1024 screen, no window manager). Each page
// tells the test what it saw through a bound function "report".
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/lockdown.hpp"
#include "app/window_geometry.hpp"
#include "platform/platform.hpp"
#include "tests/window/desktop.hpp"
#include "view/view.hpp"

namespace vellumo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// Wakes the loop and sets `expired` when a minute has gone by.
class Watchdog {
public:
    explicit Watchdog(view::Engine& engine)
        : thread_([this, &engine] {
              std::unique_lock lock(mutex_);
              if (!over_.wait_for(lock, 60s, [this] { return stop_; })) {
                  expired = true;
                  engine.dispatch([] {});
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        over_.notify_one();
        thread_.join();
    }

    std::atomic<bool> expired{false};

private:
    std::mutex mutex_;
    std::condition_variable over_;
    bool stop_ = false;
    std::thread thread_;  // last: starts when the rest exists
};

class Window : public ::testing::Test {
protected:
    Window() {
        engine.bind("report", [this](const std::string& args) {
            reports.push_back(json::parse(args).at(0));
            return std::string("null");
        });
    }

    // Runs the loop until `done` holds. False when the loop ended first or a
    // minute went by (a hung page).
    bool run_until(const std::function<bool()>& done) {
        Watchdog watchdog(engine);
        bool ok = false;
        while (!(ok = done()) && !watchdog.expired && engine.step()) {
        }
        return ok;
    }

    // Runs the loop while `work` runs on a thread of its own.
    bool run_beside(const std::function<void()>& work) {
        std::atomic<bool> done{false};
        std::thread helper([&] {
            work();
            done = true;
            engine.dispatch([] {});
        });
        const bool ok = run_until([&] { return done.load(); });
        helper.join();
        return ok;
    }

    bool await_reports(std::size_t count) {
        return run_until([&] { return reports.size() >= count; });
    }

    // Shows `body` as the page: a document whose script may call report(...).
    void show(const std::string& body) {
        engine.set_html("<!doctype html><html><head><meta charset=\"utf-8\"></head><body>" + body +
                        "</body></html>");
    }

    view::Engine engine;
    std::vector<json> reports;
};

// ---- Bindings ---------------------------------------------------------------

TEST_F(Window, SynchronousBindingResolvesWithTheParsedAnswer) {
    std::string received;
    engine.bind("echo", [&](const std::string& args) {
        received = args;
        return args;
    });
    show("<script>echo(1, 'é\"\\\\', {b: [true, null]}).then(v => report(v), e => report('rejected'))"
         "</script>");
    ASSERT_TRUE(await_reports(1));
    EXPECT_EQ(json::parse(received), json::parse(R"([1, "é\"\\", {"b": [true, null]}])"));
    EXPECT_EQ(reports[0], json::parse(R"([1, "é\"\\", {"b": [true, null]}])"));
}

TEST_F(Window, AsynchronousBindingSettlesByStatus) {
    std::vector<std::string> ids;
    engine.bind("later", view::Engine::AsyncHandler([&](const std::string& id, const std::string&) {
                    ids.push_back(id);
                }));
    show(R"(<script>
      const settle = p => p.then(v => ({resolved: v === undefined ? 'undefined' : v}),
                                 e => ({rejected: e instanceof SyntaxError ? 'SyntaxError' : e}));
      Promise.all([later(), later(), later(), later()].map(settle)).then(report);
    </script>)");
    ASSERT_TRUE(run_until([&] { return ids.size() == 4; }));
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 4u);
    engine.resolve(ids[3], 0, "");  // settled out of order
    engine.resolve(ids[0], 0, R"({"ok":true,"text":"ünï"})");
    engine.resolve(ids[1], 1, R"("Already working.")");
    engine.resolve(ids[2], 0, "{not json");
    engine.resolve("no such call", 0, "1");
    ASSERT_TRUE(await_reports(1));
    EXPECT_EQ(reports[0], json::parse(R"([
        {"resolved": {"ok": true, "text": "ünï"}},
        {"rejected": "Already working."},
        {"rejected": "SyntaxError"},
        {"resolved": "undefined"}])"));
}

TEST_F(Window, BindingOfANameAlreadyBoundIsRefused) {
    EXPECT_FALSE(engine.bind("report", [](const std::string&) { return std::string("1"); }));
    show("<script>report('first handler')</script>");
    ASSERT_TRUE(await_reports(1));
    EXPECT_EQ(reports[0], "first handler");
}

TEST_F(Window, BindingsExistInEveryDocumentShownAfterwards) {
    show("<script>report([typeof report, typeof late])</script>");
    ASSERT_TRUE(await_reports(1));
    engine.bind("late", [](const std::string&) { return std::string("7"); });
    show("<script>late().then(v => report([typeof report, v]))</script>");
    ASSERT_TRUE(await_reports(2));
    EXPECT_EQ(reports[0], json::parse(R"(["function", "undefined"])"));
    EXPECT_EQ(reports[1], json::parse(R"(["function", 7])"));
}

TEST_F(Window, ArgumentsThatCannotBeSentRejectTheCallOnly) {
    int calls = 0;
    engine.bind("count", [&](const std::string&) {
        ++calls;
        return std::string("null");
    });
    show("<script>const cycle = {}; cycle.self = cycle;"
         "count(cycle).then(() => report('sent'), e => report(e instanceof TypeError))</script>");
    ASSERT_TRUE(await_reports(1));
    EXPECT_EQ(reports[0], true);
    EXPECT_EQ(calls, 0);
}

// ---- Dispatch, eval, set_html -----------------------------------------------

TEST_F(Window, TasksFromAnotherThreadRunOnTheLoopThreadInPostingOrder) {
    const auto loop_thread = std::this_thread::get_id();
    std::vector<int> ran;
    bool all_on_loop_thread = true;
    std::thread poster([&] {
        for (int i = 0; i < 2000; ++i)
            engine.dispatch([&, i] {
                ran.push_back(i);
                if (std::this_thread::get_id() != loop_thread) all_on_loop_thread = false;
            });
    });
    ASSERT_TRUE(run_until([&] { return ran.size() == 2000; }));
    poster.join();
    EXPECT_TRUE(std::is_sorted(ran.begin(), ran.end()));
    EXPECT_TRUE(all_on_loop_thread);
}

// The job bridge's guarantee: what a worker posts before its reply reaches
// the page before the reply.
TEST_F(Window, ScriptsDispatchedBeforeAResolveReachThePageBeforeTheAnswer) {
    std::thread worker;
    engine.bind("job", view::Engine::AsyncHandler([&](const std::string& id, const std::string&) {
        worker = std::thread([this, id] {
            for (int i = 0; i < 200; ++i)
                engine.dispatch([this, i] { engine.eval("seen.push(" + std::to_string(i) + ")"); });
            engine.resolve(id, 0, "\"done\"");
        });
    }));
    show("<script>const seen = []; job().then(v => report([v, seen]))</script>");
    ASSERT_TRUE(await_reports(1));
    worker.join();
    json expected_seen = json::array();
    for (int i = 0; i < 200; ++i) expected_seen.push_back(i);
    EXPECT_EQ(reports[0], json::array({"done", expected_seen}));
}

TEST_F(Window, EvalRunsInTheCurrentDocument) {
    engine.bind("ready", [&](const std::string&) {
        engine.eval("report(document.title + ' ' + 6 * 7)");
        return std::string("null");
    });
    engine.set_html("<title>Evaluated</title><script>ready()</script>");
    ASSERT_TRUE(await_reports(1));
    EXPECT_EQ(reports[0], "Evaluated 42");
}

TEST_F(Window, HtmlIsShownAsAUtf8DataDocument) {
    show("<p id=t>Vellumo — Setup · ünïcødé 𝄞</p>"
         "<script>report([location.href.slice(0, 36), document.getElementById('t').textContent])"
         "</script>");
    ASSERT_TRUE(await_reports(1));
    EXPECT_EQ(reports[0],
              json::array({"data:text/html;charset=utf-8;base64,", "Vellumo — Setup · ünïcødé 𝄞"}));
}

// ---- The loop's end and exceptions ------------------------------------------

TEST_F(Window, TerminateFromAHandlerEndsTheLoop) {
    engine.bind("finish", [&](const std::string&) {
        engine.terminate();
        return std::string("null");
    });
    show("<script>finish()</script>");
    while (engine.step()) {
    }
    EXPECT_FALSE(engine.step());
    bool ran = false;
    engine.dispatch([&] { ran = true; });
    EXPECT_FALSE(engine.step());
    EXPECT_FALSE(ran);
}

TEST_F(Window, TerminateFromAnotherThreadEndsTheLoop) {
    show("<script>report('shown')</script>");
    ASSERT_TRUE(await_reports(1));
    std::thread([&] { engine.terminate(); }).join();
    while (engine.step()) {
    }
    SUCCEED();
}

TEST_F(Window, WindowClosedByTheSystemEndsTheLoop) {
    engine.set_title("Closed by the system");
    show("<script>report('shown')</script>");
    ASSERT_TRUE(await_reports(1));
    std::thread closer([] { testing::ask_window_to_close("Closed by the system"); });
    while (engine.step()) {
    }
    closer.join();
    EXPECT_EQ(engine.window(), nullptr);
    EXPECT_EQ(engine.web_view(), nullptr);
    engine.eval("1");  // no window: nothing to do, nothing breaks
    engine.set_html("<p>");
}

TEST_F(Window, ExceptionFromAHandlerIsRaisedFromTheLoop) {
    engine.bind("fail", [](const std::string&) -> std::string {
        throw std::runtime_error("handler failed");
    });
    show("<script>fail()</script>");
    try {
        while (engine.step()) {
        }
        ADD_FAILURE() << "the loop ended without the exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "handler failed");
    }
}

TEST_F(Window, ExceptionFromATaskIsRaisedFromTheLoopAndLaterTasksStillRun) {
    std::vector<int> ran;
    engine.dispatch([&] { ran.push_back(1); });
    engine.dispatch([] { throw std::logic_error("task failed"); });
    engine.dispatch([&] { ran.push_back(3); });
    EXPECT_THROW(run_until([&] { return ran.size() == 2; }), std::logic_error);
    EXPECT_EQ(ran, std::vector<int>{1});
    ASSERT_TRUE(run_until([&] { return ran.size() == 2; }));
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
}

TEST(WindowLifetime, TasksPendingWhenTheEngineIsDestroyedNeverRun) {
    auto shared_flag = std::make_shared<bool>(false);
    {
        view::Engine doomed;
        doomed.dispatch([shared_flag] { *shared_flag = true; });
    }
    // The next engine's loop turns the same main context.
    view::Engine next;
    bool own = false;
    next.dispatch([&] { own = true; });
    while (!own && next.step()) {
    }
    EXPECT_TRUE(own);
    EXPECT_FALSE(*shared_flag);
}

// ---- The window's size, style and place -------------------------------------

TEST_F(Window, FixedSizeDressedWindowIsCentredOnTheScreen) {
    engine.set_title("Vellumo for DaVinci Resolve — Setup");
    engine.set_size(880, 580, view::SizeHint::fixed);
    platform::os().dress_window(engine.window());
    centre_window(engine.window());
    show("<script>report([innerWidth, innerHeight])</script>");
    ASSERT_TRUE(await_reports(1));
    testing::Geometry g;
    bool frameless = false;
    ASSERT_TRUE(run_beside([&] {
        g = testing::geometry_of("Vellumo for DaVinci Resolve — Setup");
        frameless = testing::asks_for_no_decorations("Vellumo for DaVinci Resolve — Setup");
    }));
    EXPECT_TRUE(frameless);
    EXPECT_EQ(reports[0], json::array({880, 580}));
    EXPECT_EQ(g.width, 880);
    EXPECT_EQ(g.height, 580);
    EXPECT_EQ(g.x, (1280 - 880) / 2);
    EXPECT_EQ(g.y, (1024 - 580) / 2);
    const platform::Rect frame = platform::os().window_frame(engine.window());
    EXPECT_EQ(frame.width, 880);
    EXPECT_EQ(frame.height, 580);
}

TEST_F(Window, SizeWithoutHintIsTheStartingSize) {
    engine.set_title("Free size");
    engine.set_size(500, 300, view::SizeHint::none);
    show("<script>report([innerWidth, innerHeight])</script>");
    ASSERT_TRUE(await_reports(1));
    testing::Geometry g;
    bool frameless = true;
    ASSERT_TRUE(run_beside([&] {
        g = testing::geometry_of("Free size");
        frameless = testing::asks_for_no_decorations("Free size");
    }));
    EXPECT_EQ(reports[0], json::array({500, 300}));
    EXPECT_EQ(g.width, 500);
    EXPECT_EQ(g.height, 300);
    EXPECT_FALSE(frameless);
}

// ---- The lock-down ----------------------------------------------------------
// The pages here carry no content security policy of their own, so whatever
// they are refused, the lock-down refused.

class LockedWindow : public Window {
protected:
    LockedWindow() {
        lock_down(engine.web_view());
        std::ofstream(elsewhere) << "<script>report('arrived')</script>";
    }

    std::string file_uri() const { return "file://" + elsewhere.string(); }

    // The hermetic home of main.cpp.
    const std::filesystem::path elsewhere =
        std::filesystem::path(std::getenv("HOME")) / "elsewhere.html";
};

// A stopped data: frame keeps the window's load event from firing, so the page
// waits a while for any frame to speak up instead.
TEST_F(LockedWindow, FramesNeverRunContentOfTheirOwn) {
    show(R"(<p id=main>main page</p>
    <iframe srcdoc="<p>own text</p><script>parent.postMessage('srcdoc ran', '*')</script>"></iframe>
    <iframe src="data:text/html,<p>own text</p><script>parent.postMessage('data ran', '*')</script>"></iframe>
    <iframe src="about:blank"></iframe>
    <iframe src="https://127.0.0.1:1/"></iframe>
    <iframe src=")" + file_uri() + R"("></iframe>
    <script>
      const ran = [];
      addEventListener('message', e => ran.push(e.data));
      const inside = frame => {
        try { return frame.contentDocument.documentElement.textContent; } catch (e) { return null; }
      };
      setTimeout(() => {
        const frames = [...document.querySelectorAll('iframe')];
        report({ran, main: document.getElementById('main').textContent,
                srcdoc: inside(frames[0]), blank: inside(frames[2])});
      }, 1500);
    </script>)");
    ASSERT_TRUE(await_reports(1));
    EXPECT_EQ(reports[0],
              json::parse(R"({"ran": [], "main": "main page", "srcdoc": "", "blank": ""})"));
}

TEST_F(LockedWindow, NavigationsAwayFromThePageAreRefused) {
    testing::LocalWebServer server("<script>report('arrived')</script>");
    const std::vector<std::string> targets = {
        server.uri(), "https://127.0.0.1:1/", file_uri(),
        "data:image/svg+xml,<svg xmlns='http://www.w3.org/2000/svg'/>"};
    for (const std::string& target : targets) {
        reports.clear();
        show("<script>setTimeout(() => report('stayed'), 1000); location.href = " +
             json(target).dump() + ";</script>");
        ASSERT_TRUE(await_reports(1)) << target;
        EXPECT_EQ(reports[0], "stayed") << target;
    }
}

TEST_F(LockedWindow, ContextMenuIsRefused) {
    engine.set_title("Context menu");
    show(R"(<p style="font-size:40px">Text to press on</p><script>
      addEventListener('contextmenu', () => report('contextmenu'));
      report('shown');
    </script>)");
    ASSERT_TRUE(await_reports(1));
    const int before = testing::visible_windows();
    ASSERT_TRUE(run_beside([&] { testing::click_window("Context menu", 40, 40, 3); }));
    ASSERT_TRUE(await_reports(2));
    // A menu would be a window of its own; give it time to show.
    ASSERT_TRUE(run_beside([] { std::this_thread::sleep_for(1s); }));
    EXPECT_EQ(testing::visible_windows(), before);
}

TEST_F(LockedWindow, NewWindowsAreRefused) {
    engine.set_title("New windows");
    show(R"html(<button style="position:fixed;left:0;top:0;width:200px;height:100px"
      onclick="report(['gesture', window.open('data:text/html,<p>new</p>') === null])">open</button>
    <a style="position:fixed;left:0;top:150px;font-size:40px" target=_blank
      href="data:text/html,<p>new</p>" onclick="report('link')">link</a>
    <script>report(['no gesture', window.open('data:text/html,<p>new</p>') === null])</script>)html");
    ASSERT_TRUE(await_reports(1));
    const int before = testing::visible_windows();
    ASSERT_TRUE(run_beside([&] { testing::click_window("New windows", 100, 50, 1); }));
    ASSERT_TRUE(await_reports(2));
    ASSERT_TRUE(run_beside([&] { testing::click_window("New windows", 20, 170, 1); }));
    ASSERT_TRUE(await_reports(3));
    ASSERT_TRUE(run_beside([] { std::this_thread::sleep_for(1s); }));
    EXPECT_EQ(testing::visible_windows(), before);
    EXPECT_EQ(reports, (std::vector<json>{json::array({"no gesture", true}),
                                          json::array({"gesture", true}), "link"}));
}

// The page's origin is opaque, so WebKit turns most requests down before it
// asks; the lock-down's own answer stands behind that.
TEST_F(LockedWindow, PermissionRequestsAreDenied) {
    show(R"(<script>
      Promise.all([
        Notification.requestPermission(),
        new Promise(done => navigator.geolocation.getCurrentPosition(
          () => done('granted'),
          error => done(error.code === error.PERMISSION_DENIED ? 'denied' : 'failed'))),
      ]).then(report);
    </script>)");
    ASSERT_TRUE(await_reports(1));
    EXPECT_EQ(reports[0], json::array({"denied", "denied"}));
}

}  // namespace
}  // namespace vellumo
