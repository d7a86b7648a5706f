// Where the window goes: centred on its monitor's work area. run_window calls
// centre_window once the window has its size and style.
#pragma once

#include "platform/platform.hpp"

namespace vellumo {

struct Position {
    int x = 0;
    int y = 0;
};

// The top-left corner that centres a width x height window on `work_area`;
// an odd difference is truncated toward zero, on either side of it.
Position centred_position(const platform::Rect& work_area, int width, int height);

// Moves the window to the centre of its monitor's work area, its size kept.
void centre_window(void* window);

}  // namespace vellumo
