// The frameless window's style bits, apart from Win32 so that they can be
// tested on their own.
#pragma once

#include <cstdint>

namespace vellumo::platform {

// Caption, sizing frame and maximise box off; popup, system menu (for the
// taskbar's commands) and minimise box on.
constexpr std::uint32_t frameless_style_removed = 0x00C50000;  // WS_CAPTION|WS_THICKFRAME|WS_MAXIMIZEBOX
constexpr std::uint32_t frameless_style_added = 0x800A0000;    // WS_POPUP|WS_SYSMENU|WS_MINIMIZEBOX

constexpr std::uint32_t frameless_style(std::uint32_t style) {
    return (style & ~frameless_style_removed) | frameless_style_added;
}

}  // namespace vellumo::platform
