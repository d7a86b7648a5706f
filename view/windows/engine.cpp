// The web-view engine on Windows, before WebView2: no view can be made, so
// the constructor throws and the window mode ends in the failure message.
// Nothing else can run without an engine.
#include "view/view.hpp"

#include <stdexcept>

namespace vellumo::view {

struct Engine::State {};

Engine::Engine() { throw std::runtime_error("no web view on this platform yet"); }

Engine::~Engine() = default;

void Engine::set_title(const std::string&) {}
void Engine::set_size(int, int, SizeHint) {}
void* Engine::window() const { return nullptr; }
void* Engine::web_view() const { return nullptr; }
bool Engine::bind(const std::string&, SyncHandler) { return false; }
bool Engine::bind(const std::string&, AsyncHandler) { return false; }
void Engine::resolve(const std::string&, int, const std::string&) {}
void Engine::dispatch(std::function<void()>) {}
void Engine::eval(const std::string&) {}
void Engine::set_html(const std::string&) {}
void Engine::terminate() {}
bool Engine::step() { return false; }

}  // namespace vellumo::view
