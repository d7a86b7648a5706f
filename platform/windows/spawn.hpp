// Starting a child by CreateProcessW: no inherited handles, the caller's
// environment, a zero-filled start-up record but for what is asked. Shared
// by the hidden probe process and the detached starts of the start-up code.
#pragma once

#include "platform/windows/win32.hpp"

#include <string_view>

namespace vellumo::platform {

enum class ChildWindow { as_usual, hidden };

// Starts `application` (a full path: no search) with `command_line`.
// `folder` is its current folder; null keeps ours. True with both handles in
// `started`, which the caller closes.
bool start_child(const wchar_t* application, std::u16string_view command_line,
                 DWORD creation_flags, ChildWindow window, const wchar_t* folder,
                 PROCESS_INFORMATION& started);

// Closes the thread handle, then the process handle.
void close_child(PROCESS_INFORMATION& started);

}  // namespace vellumo::platform
