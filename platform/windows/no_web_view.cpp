// The lock-down of a Windows build made without the WebView2 SDK, whose
// view engine can never be made: there is never a view to lock down.
#include "platform/platform.hpp"

namespace vellumo::platform {

void System::lock_down_web_view(void*, WebRequestRule) {}

}  // namespace vellumo::platform
