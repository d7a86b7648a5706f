// Whether a suitable Python and DaVinci Resolve are on this computer, and
// whether a program runs. Used by the setup information, the install and the
// uninstall; nothing is cached, every call looks afresh.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace vellumo {

// The probe's arguments: an isolated interpreter without site initialisation
// that exits with 0 exactly when it is Python 3.8 or newer with 8-byte
// pointers, and with 1 otherwise.
inline constexpr char16_t python_probe_arguments[] =
    u"-I -S -c \"import sys,struct;sys.exit(0 if sys.version_info >= (3,8) and "
    u"struct.calcsize('P') == 8 else 1)\"";

inline constexpr std::uint32_t probe_time_limit_ms = 3000;

// Runs `exe` hidden with the command line "\"exe\" args" for at most
// probe_time_limit_ms. Its exit code, or -1 when it did not start, ran out of
// time (it is then killed) or did not exit by itself.
int run_hidden_process(const std::u16string& exe, const std::u16string& args);

// Probes one interpreter: false without starting anything unless `candidate`
// is a regular file (after links) whose path text lacks "WindowsApps" (in that
// letter case); otherwise whether it answers 0 to `prefix` followed by the
// probe arguments it holds.
struct probe_python_candidate {
    const std::u16string& probe_arguments;

    bool operator()(const std::filesystem::path& candidate, const std::u16string& prefix) const;
};

// Whether some interpreter passes the probe: in sandbox mode only
// <sandbox>/ProgramFiles/Python/python.exe; otherwise the registrations of
// both hives, then python.exe and py.exe from the executable search path.
bool detect_python();

// Whether Resolve.exe is a regular file at the install location under the
// Program Files folder or, outside sandbox mode, where the registry says.
bool detect_resolve();

// Whether a process whose executable file name is `name`, in any letter case,
// runs now. False when the process list cannot be taken.
bool is_process_running(const std::u16string& name);

}  // namespace vellumo
