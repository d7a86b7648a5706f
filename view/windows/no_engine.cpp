// The view engine of a Windows build made without the WebView2 SDK (only
// for running the other Windows tests): it can never be made, so the window
// mode ends in the failure message.
#include <stdexcept>

#include "view/view.hpp"

namespace vellumo::view {

struct Engine::State {};

Engine::Engine(std::chrono::milliseconds) {
    throw std::runtime_error("This build has no web view: it was made without the WebView2 SDK.");
}
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
