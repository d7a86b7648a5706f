#include "view/page_bridge.hpp"

#include <nlohmann/json.hpp>

#include "view/view.hpp"

namespace vellumo::view {
namespace {

constexpr std::string_view bridge_head = R"js((() => {
  "use strict";
  const post = )js";

constexpr std::string_view bridge_body = R"js(;
  const pending = new Map();
  // Ids differ between documents, so a late answer to a call of an earlier
  // document settles nothing here.
  const document_key = Math.random().toString(36).slice(2);
  let last = 0;
  const call = (name, args) => new Promise((resolve, reject) => {
    const request = JSON.stringify(args);
    const id = document_key + "." + ++last;
    pending.set(id, { resolve, reject });
    post([name, id, request]);
  });
  const reply = (id, status, result) => {
    const promise = pending.get(id);
    if (!promise) return;
    pending.delete(id);
    let value;
    try {
      value = result === "" ? undefined : JSON.parse(result);
    } catch (error) {
      promise.reject(error);
      return;
    }
    (status === 0 ? promise.resolve : promise.reject)(value);
  };
  Object.defineProperty(window, "__vellumo", { value: Object.freeze({ call, reply }) });
})();)js";

// A JavaScript string literal holding `text`: JSON's, all ASCII.
std::string js_string(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string bridge_script(std::string_view post) {
    std::string script(bridge_head);
    script += post;
    script += bridge_body;
    return script;
}

std::string binding_script(const std::string& name) {
    const std::string quoted = js_string(name);
    return "(() => { const call = window.__vellumo.call; window[" + quoted +
           "] = (...args) => call(" + quoted + ", args); })();";
}

std::string reply_script(const std::string& id, int status, const std::string& result) {
    return "window.__vellumo&&window.__vellumo.reply(" + js_string(id) + "," +
           std::to_string(status) + "," + js_string(result) + ")";
}

// The parts of the engine that are the same on every platform.

bool Engine::bind(const std::string& name, SyncHandler handler) {
    return bind(name, AsyncHandler([this, handler = std::move(handler)](const std::string& id,
                                                                        const std::string& args) {
        resolve(id, 0, handler(args));
    }));
}

void Engine::resolve(const std::string& id, int status, const std::string& result) {
    dispatch([this, script = reply_script(id, status, result)] { eval(script); });
}

}  // namespace vellumo::view
