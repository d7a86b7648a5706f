// The lock-down's rule: the view shows inline documents and its first empty
// one, and nothing else ever.
#include <gtest/gtest.h>

#include <string>

#include "app/lockdown.hpp"

namespace vellumo {
namespace {

using platform::WebRequest;

struct Case {
    WebRequest request;
    std::string uri;
    bool allowed;
};

class WebRequestRule : public ::testing::TestWithParam<Case> {};

TEST_P(WebRequestRule, DecidesByKindAndExactPrefix) {
    const Case& c = GetParam();
    EXPECT_EQ(web_request_allowed(c.request, c.uri), c.allowed);
}

INSTANTIATE_TEST_SUITE_P(
    Navigation, WebRequestRule,
    ::testing::Values(
        Case{WebRequest::navigation, "about:blank", true},
        Case{WebRequest::navigation, "about:blank#top", true},
        Case{WebRequest::navigation, "about:blankety", true},
        Case{WebRequest::navigation, "data:text/html;charset=utf-8;base64,PCFkb2N0eXBlIGh0bWw+", true},
        Case{WebRequest::navigation, "data:text/html,<p>", true},
        Case{WebRequest::navigation, "data:text/htmlx", true},
        Case{WebRequest::navigation, "", false},
        Case{WebRequest::navigation, "about:", false},
        Case{WebRequest::navigation, "about:srcdoc", false},
        Case{WebRequest::navigation, "ABOUT:BLANK", false},
        Case{WebRequest::navigation, "About:blank", false},
        Case{WebRequest::navigation, "DATA:text/html,x", false},
        Case{WebRequest::navigation, " about:blank", false},
        Case{WebRequest::navigation, "\tdata:text/html,x", false},
        Case{WebRequest::navigation, "data:text/plain,about:blank", false},
        Case{WebRequest::navigation, "data:image/svg+xml,<svg/>", false},
        Case{WebRequest::navigation, "data:,text/html", false},
        Case{WebRequest::navigation, "https://vellumo.app/", false},
        Case{WebRequest::navigation, "http://127.0.0.1/about:blank", false},
        Case{WebRequest::navigation, "file:///etc/passwd", false},
        Case{WebRequest::navigation, "javascript:alert(1)", false},
        Case{WebRequest::navigation, std::string("about:bla\0nk", 12), false}));

INSTANTIATE_TEST_SUITE_P(
    EverythingElse, WebRequestRule,
    ::testing::Values(Case{WebRequest::frame_navigation, "about:blank", false},
                      Case{WebRequest::frame_navigation, "data:text/html,<p>", false},
                      Case{WebRequest::frame_navigation, "https://vellumo.app/", false},
                      Case{WebRequest::frame_navigation, "", false},
                      Case{WebRequest::new_window, "about:blank", false},
                      Case{WebRequest::new_window, "data:text/html,<p>", false},
                      Case{WebRequest::new_window, "https://vellumo.app/", false},
                      Case{WebRequest::permission, "", false}));

// The lock-down hands the view to the platform with exactly this rule, and
// leaves a missing view alone.
struct RecordingSystem : platform::System {
    void* view = nullptr;
    platform::WebRequestRule rule = nullptr;
    int calls = 0;
    void lock_down_web_view(void* web_view, platform::WebRequestRule allowed) override {
        view = web_view;
        rule = allowed;
        ++calls;
    }
};

TEST(LockDown, HandsTheViewAndTheRuleToThePlatform) {
    RecordingSystem system;
    platform::ScopedSystem scoped(system);
    int view = 0;
    lock_down(&view);
    EXPECT_EQ(system.calls, 1);
    EXPECT_EQ(system.view, &view);
    EXPECT_EQ(system.rule, &web_request_allowed);
}

TEST(LockDown, DoesNothingWithoutAView) {
    RecordingSystem system;
    platform::ScopedSystem scoped(system);
    lock_down(nullptr);
    EXPECT_EQ(system.calls, 0);
}

}  // namespace
}  // namespace vellumo
