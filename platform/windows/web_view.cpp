// The lock-down of the WebView2 view: filled with the window on WebView2.
// Until then there is no view to lock down.
#include "platform/platform.hpp"

namespace vellumo::platform {

void System::lock_down_web_view(void*, WebRequestRule) {}

}  // namespace vellumo::platform
