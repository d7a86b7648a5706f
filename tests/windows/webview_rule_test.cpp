// What the lock-down hands to the web-request rule from WebView2's UTF-16
// URIs, and the frameless window's style bits.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/lockdown.hpp"
#include "platform/windows/web_view.hpp"
#include "platform/windows/window.hpp"

namespace vellumo {
namespace {

struct UriCase {
    const char* name;
    const wchar_t* uri;
    bool allowed;
};

TEST(WebViewUri, OnlyTheBlankDocumentAndInlineHtmlGoOn) {
    const UriCase cases[] = {
        {"blank", L"about:blank", true},
        {"blank with more", L"about:blank#top", true},
        {"inline html", L"data:text/html;charset=utf-8;base64,PGI+PC9iPg==", true},
        {"inline html, bare", L"data:text/html,<b></b>", true},
        {"web address", L"https://example.com/", false},
        {"file", L"file:///C:/Windows/win.ini", false},
        {"data of another type", L"data:text/plain,about:blank", false},
        {"upper case", L"ABOUT:BLANK", false},
        {"upper-case data", L"DATA:text/html,x", false},
        {"leading spaces", L"  about:blank", false},
        {"prefix later in the text", L"https://x/?about:blank", false},
        {"cut short", L"about:blan", false},
        {"empty", L"", false},
        {"missing", nullptr, false},
        {"lone surrogate first", L"\xD800" L"about:blank", false},
        {"non-ASCII after the prefix", L"about:blank#\x00E9\x4E2D", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = platform::web_view_uri_text(c.uri);
        EXPECT_EQ(web_request_allowed(platform::WebRequest::navigation, text), c.allowed);
    }
}

TEST(WebViewUri, TextIsTheUtf8OfTheUri) {
    EXPECT_EQ(platform::web_view_uri_text(L"about:blank#\x00E9"), "about:blank#\xC3\xA9");
    EXPECT_EQ(platform::web_view_uri_text(nullptr), "");
}

struct StyleCase {
    const char* name;
    std::uint32_t before;
    std::uint32_t after;
};

TEST(FramelessStyle, CaptionFrameAndMaximiseGoPopupMenuAndMinimiseCome) {
    const StyleCase cases[] = {
        {"overlapped window", WS_OVERLAPPEDWINDOW, WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX},
        {"visible, clipping its children", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN,
         WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE | WS_CLIPCHILDREN},
        {"already frameless", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX,
         WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX},
        {"nothing", 0, 0x800A0000},
        {"everything", 0xFFFFFFFF, 0xFF3AFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::frameless_style(c.before), c.after);
    }
}

}  // namespace
}  // namespace vellumo
