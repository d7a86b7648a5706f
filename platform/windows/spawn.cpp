#include "platform/windows/spawn.hpp"

namespace vellumo::platform {

static_assert(sizeof(STARTUPINFOW) == 104, "the start-up record of 64-bit Windows");

bool start_child(const wchar_t* application, std::u16string_view command_line,
                 DWORD creation_flags, ChildWindow window, const wchar_t* folder,
                 PROCESS_INFORMATION& started) {
    std::wstring line = wide_string(command_line);  // CreateProcessW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (window == ChildWindow::hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    started = PROCESS_INFORMATION{};
    return CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, creation_flags,
                          nullptr, folder, &startup, &started) != 0;
}

void close_child(PROCESS_INFORMATION& started) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
}

}  // namespace vellumo::platform
