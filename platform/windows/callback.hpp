// One COM class template for every WebView2 handler the program hands out:
// the lock-down's event handlers and the engine's completion and message
// handlers. The lock-down (web_view.cpp) and the Windows view engine use it.
#pragma once

#include <windows.h>

#include <WebView2.h>

#include <atomic>
#include <utility>

namespace vellumo::platform {

// The interface id of each handler interface made with Callback.
template <class Interface>
const IID& interface_id();

#define VELLUMO_HANDLER_INTERFACE(name) \
    template <>                         \
    inline const IID& interface_id<name>() { return IID_##name; }
VELLUMO_HANDLER_INTERFACE(ICoreWebView2NavigationStartingEventHandler)
VELLUMO_HANDLER_INTERFACE(ICoreWebView2NewWindowRequestedEventHandler)
VELLUMO_HANDLER_INTERFACE(ICoreWebView2PermissionRequestedEventHandler)
VELLUMO_HANDLER_INTERFACE(ICoreWebView2WebMessageReceivedEventHandler)
VELLUMO_HANDLER_INTERFACE(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler)
VELLUMO_HANDLER_INTERFACE(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler)
VELLUMO_HANDLER_INTERFACE(ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler)
#undef VELLUMO_HANDLER_INTERFACE

// Implements `Interface`, whose Invoke takes (First, Second), by calling
// `handler`. Starts with one reference; the last Release deletes it.
template <class Interface, class First, class Second, class Handler>
class Callback final : public Interface {
public:
    explicit Callback(Handler handler) : handler_(std::move(handler)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (!object) return E_POINTER;
        // Only what this object is: COM's identity rules, and no caller may
        // use it as an interface it does not implement.
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, interface_id<Interface>())) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }

    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Invoke(First first, Second second) override {
        // No exception may cross back into the caller's code.
        try {
            handler_(first, second);
        } catch (...) {
            return E_UNEXPECTED;
        }
        return S_OK;
    }

private:
    Handler handler_;
    std::atomic<ULONG> references_{1};
};

// A new handler object with one reference, owned by the caller.
template <class Interface, class First, class Second, class Handler>
Interface* make_callback(Handler handler) {
    return new Callback<Interface, First, Second, Handler>(std::move(handler));
}

// Holds one reference to a COM object and releases it when it goes.
template <class Interface>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(Interface* owned) : object_(owned) {}
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    void reset(Interface* owned = nullptr) {
        if (object_) object_->Release();
        object_ = owned;
    }
    Interface* get() const { return object_; }
    Interface* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // For a call that hands back a new reference.
    Interface** put() {
        reset();
        return &object_;
    }

private:
    Interface* object_ = nullptr;
};

}  // namespace vellumo::platform
