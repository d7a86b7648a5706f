// The page's desktop bindings: setupOpen opens the companion application, the
// install folder or one of three web pages; setupWindow drags, minimises or
// closes the frameless window. Both answer "null" whatever they did.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>

namespace vellumo {

// The one string argument of a call: the request must be an array of exactly
// one element, a string. Anything else (malformed text included) is none.
std::optional<std::string> single_string_argument(const std::string& request);

std::string on_setup_open(const std::string& request);

// `window` is the native window (null: nothing to act on); `terminate` ends
// the window's loop; a close is refused while `busy` is set.
std::string on_setup_window(const std::string& request, void* window,
                            const std::function<void()>& terminate,
                            const std::atomic<bool>& busy);

}  // namespace vellumo
