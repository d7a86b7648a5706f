// The window's dress and place on Win32: frameless and dark through the style
// bits and DWM, the monitor's work area, the move, drag and minimise.
#include "platform/windows/window.hpp"

#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

#include <uxtheme.h>  // MARGINS, after <windows.h>

namespace vellumo::platform {
namespace {

HWND window_of(void* handle) { return static_cast<HWND>(handle); }

using ExtendFrame = HRESULT(WINAPI*)(HWND, const MARGINS*);
using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);

constexpr DWORD dwm_window_corner_preference = 33;
constexpr DWORD dwm_corner_round = 2;
constexpr DWORD dwm_use_immersive_dark_mode = 20;

// dwmapi.dll is not a KnownDLL: from System32 only.
template <class Function>
Function dwm_function(const char* name) {
    static const HMODULE dwm = system_library(L"dwmapi.dll");
    return library_function<Function>(dwm, name);
}

}  // namespace

void System::dress_window(void* handle) {
    const HWND window = window_of(handle);
    const auto style = static_cast<std::uint32_t>(GetWindowLongPtrW(window, GWL_STYLE));
    SetWindowLongPtrW(window, GWL_STYLE, static_cast<LONG_PTR>(frameless_style(style)));

    if (auto extend = dwm_function<ExtendFrame>("DwmExtendFrameIntoClientArea")) {
        const MARGINS margins{1, 1, 1, 1};
        extend(window, &margins);
    }
    if (auto set_attribute = dwm_function<SetAttribute>("DwmSetWindowAttribute")) {
        const DWORD round = dwm_corner_round;
        set_attribute(window, dwm_window_corner_preference, &round, sizeof round);
        const BOOL dark = TRUE;
        set_attribute(window, dwm_use_immersive_dark_mode, &dark, sizeof dark);
    }
}

Rect System::window_frame(void* handle) {
    RECT frame{};
    GetWindowRect(window_of(handle), &frame);
    return {frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top};
}

Rect System::work_area(void* handle) {
    MONITORINFO info{};
    info.cbSize = sizeof info;  // 40
    const HMONITOR monitor = MonitorFromWindow(window_of(handle), MONITOR_DEFAULTTOPRIMARY);
    if (!GetMonitorInfoW(monitor, &info)) return {};
    const RECT& work = info.rcWork;
    return {work.left, work.top, work.right - work.left, work.bottom - work.top};
}

void System::move_window(void* handle, int x, int y) {
    const HWND window = window_of(handle);
    const Rect frame = window_frame(handle);
    // The frame change makes the new style bits take effect.
    SetWindowPos(window, nullptr, x, y, frame.width, frame.height,
                 SWP_NOZORDER | SWP_FRAMECHANGED);
}

void System::begin_window_drag(void* handle) {
    ReleaseCapture();
    SendMessageW(window_of(handle), WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void System::minimize_window(void* handle) { ShowWindow(window_of(handle), SW_MINIMIZE); }

}  // namespace vellumo::platform
