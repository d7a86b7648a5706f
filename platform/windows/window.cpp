// The window's dress and place: filled by the window on WebView2. Until then
// there is no window to dress (the view engine cannot be built).
#include "platform/platform.hpp"

namespace vellumo::platform {

void System::dress_window(void*) {}

Rect System::window_frame(void*) { return {}; }

Rect System::work_area(void*) { return {}; }

void System::move_window(void*, int, int) {}

void System::begin_window_drag(void*) {}

void System::minimize_window(void*) {}

}  // namespace vellumo::platform
