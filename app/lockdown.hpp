// The lock-down of the window's web view: it shows the one embedded page and
// nothing else. run_window calls lock_down after the bindings, before the page.
#pragma once

#include <string_view>

#include "platform/platform.hpp"

namespace vellumo {

// Whether the view may carry out a request: only a navigation to
// "about:blank" or a "data:text/html" document, by exact prefix; never a frame
// navigation, a new window or a permission.
bool web_request_allowed(platform::WebRequest request, std::string_view uri) noexcept;

// Locks the engine's web view down; does nothing for a null view.
void lock_down(void* web_view);

}  // namespace vellumo
