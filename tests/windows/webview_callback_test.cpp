// The COM handler template: reference counts, freeing, the interfaces it
// answers for, and what Invoke hands on.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "platform/windows/callback.hpp"

namespace vellumo::platform {
namespace {

using Handler = ICoreWebView2NavigationStartingEventHandler;
using Args = ICoreWebView2NavigationStartingEventArgs*;

// A handler whose state tells when the object holding it is freed.
struct Probe {
    std::shared_ptr<int> calls = std::make_shared<int>(0);
    void operator()(ICoreWebView2*, Args) const { ++*calls; }
};

Handler* make_probe(Probe probe) { return make_callback<Handler, ICoreWebView2*, Args>(probe); }

TEST(WebViewCallback, CountsReferencesAndFreesItselfAtZero) {
    Probe probe;
    const std::weak_ptr<int> alive = probe.calls;
    Handler* handler = make_probe(std::move(probe));
    EXPECT_EQ(handler->AddRef(), 2u);
    EXPECT_EQ(handler->Release(), 1u);
    EXPECT_FALSE(alive.expired());
    EXPECT_EQ(handler->Release(), 0u);
    EXPECT_TRUE(alive.expired());
}

struct InterfaceCase {
    const char* name;
    const IID* id;
    HRESULT result;
};

TEST(WebViewCallback, AnswersOnlyForIUnknownAndItsOwnInterface) {
    const InterfaceCase cases[] = {
        {"IUnknown", &IID_IUnknown, S_OK},
        {"its own interface", &IID_ICoreWebView2NavigationStartingEventHandler, S_OK},
        {"another handler interface", &IID_ICoreWebView2NewWindowRequestedEventHandler,
         E_NOINTERFACE},
        {"IDispatch", &IID_IDispatch, E_NOINTERFACE},
        {"the view's interface", &IID_ICoreWebView2, E_NOINTERFACE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Handler* handler = make_probe({});
        void* answer = reinterpret_cast<void*>(0x1);  // must be overwritten either way
        EXPECT_EQ(handler->QueryInterface(*c.id, &answer), c.result);
        if (c.result == S_OK) {
            EXPECT_EQ(answer, static_cast<void*>(handler));
            EXPECT_EQ(handler->Release(), 1u) << "one reference added for the answer";
        } else {
            EXPECT_EQ(answer, nullptr);
        }
        EXPECT_EQ(handler->Release(), 0u);
    }
}

TEST(WebViewCallback, NullOutPointerIsRefusedWithoutAReference) {
    Handler* handler = make_probe({});
    EXPECT_EQ(handler->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(handler->Release(), 0u);
}

TEST(WebViewCallback, InvokeCallsTheHandlerWithBothArguments) {
    ICoreWebView2* seen_sender = nullptr;
    Args seen_args = nullptr;
    auto* sender = reinterpret_cast<ICoreWebView2*>(0x10);
    auto* args = reinterpret_cast<Args>(0x20);
    Handler* handler = make_callback<Handler, ICoreWebView2*, Args>(
        [&](ICoreWebView2* s, Args a) {
            seen_sender = s;
            seen_args = a;
        });
    EXPECT_EQ(handler->Invoke(sender, args), S_OK);
    EXPECT_EQ(seen_sender, sender);
    EXPECT_EQ(seen_args, args);
    handler->Release();
}

TEST(WebViewCallback, AnExceptionStopsAtTheComBoundary) {
    Handler* handler = make_callback<Handler, ICoreWebView2*, Args>(
        [](ICoreWebView2*, Args) { throw std::runtime_error("handler failed"); });
    EXPECT_EQ(handler->Invoke(nullptr, nullptr), E_UNEXPECTED);
    handler->Release();
}

}  // namespace
}  // namespace vellumo::platform
