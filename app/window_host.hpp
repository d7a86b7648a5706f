// The setup window: the page in a web view, its bindings and message loop.
#pragma once

namespace vellumo {

// 0 once the window's message loop has ended, 3 when the page resource is
// empty. Throws when the window cannot be opened.
int run_window();

}  // namespace vellumo
