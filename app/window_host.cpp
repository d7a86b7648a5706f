// Stand-in until the window host exists: every attempt to open the window
// fails as it does where no web view can be built.
#include "app/window_host.hpp"

#include <stdexcept>

namespace vellumo {

int run_window() { throw std::runtime_error("the setup window is not available in this build"); }

}  // namespace vellumo
