// Without any display the engine cannot be made, and says so by throwing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "view/view.hpp"

namespace vellumo {
namespace {

TEST(WindowWithoutDisplay, EngineConstructionThrows) {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    EXPECT_THROW(view::Engine(), std::runtime_error);
}

}  // namespace
}  // namespace vellumo
