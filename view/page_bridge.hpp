// The page side of the engines' bindings, the same on every platform: the
// scripts that define the bound functions and carry the answers back (and,
// in page_bridge.cpp, the engine's synchronous bind and its resolve).
//
// A script at the start of every top-level document defines window.__vellumo,
// and each binding adds one more that puts its function on window. A call
// posts [name, id, JSON text of the arguments] through the platform's message
// channel; the answer comes back as an evaluated call of
// window.__vellumo.reply(id, status, JSON text of the result).
#pragma once

#include <string>
#include <string_view>

namespace vellumo::view {

// The bridge script; `post` is the expression of the function that posts one
// message to the host (it is called with the message as its one argument).
std::string bridge_script(std::string_view post);

// Puts the function `name` on window.
std::string binding_script(const std::string& name);

// Settles the page's pending call `id`.
std::string reply_script(const std::string& id, int status, const std::string& result);

}  // namespace vellumo::view
