#include "app/window_geometry.hpp"

#include <cstdint>

namespace vellumo {

Position centred_position(const platform::Rect& work_area, int width, int height) {
    // 64-bit, so no difference of two coordinates overflows; C++ division
    // truncates toward zero.
    auto centre = [](std::int64_t start, std::int64_t room, std::int64_t size) {
        return static_cast<int>(start + (room - size) / 2);
    };
    return {centre(work_area.x, work_area.width, width),
            centre(work_area.y, work_area.height, height)};
}

void centre_window(void* window) {
    platform::System& os = platform::os();
    const platform::Rect frame = os.window_frame(window);
    const Position place = centred_position(os.work_area(window), frame.width, frame.height);
    os.move_window(window, place.x, place.y);
}

}  // namespace vellumo
