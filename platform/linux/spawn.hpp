// Starting a child that takes nothing from us but the environment (and the
// current folder, unless it is given one): standard streams on /dev/null,
// every other descriptor closed, default signal handling. Shared by the hidden
// probe process and the detached starts of the start-up code.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vellumo::platform {

enum class ChildGroup {
    own_process_group,  // a time-out can end whatever the child started too
    own_session,        // detached: outlives us, no controlling terminal
};

// The arguments of a Windows command line for `program` (argv[0] first); the
// program's path alone when the line splits into nothing.
std::vector<std::string> arguments_of(const std::filesystem::path& program,
                                      std::u16string_view command_line);

// The child's id, or -1 when it could not be started. `folder` is its
// current folder; empty keeps ours, or gives it `held` when there is one.
// `held`, a close-on-exec descriptor of a folder, stays open up to the exec
// (which closes it), so that `program` may name a file in that folder as
// /proc/self/fd/N/NAME.
pid_t spawn_quiet(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                  ChildGroup group, const std::filesystem::path& folder = {}, int held = -1);

}  // namespace vellumo::platform
