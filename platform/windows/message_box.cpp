// The failure message: a message box with no owner window.
#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

namespace vellumo::platform {

void System::show_error_message(const std::string& text, const std::string& caption) {
    MessageBoxW(nullptr, wide_string(utf8_to_utf16(text)).c_str(),
                wide_string(utf8_to_utf16(caption)).c_str(), MB_ICONERROR);
}

}  // namespace vellumo::platform
