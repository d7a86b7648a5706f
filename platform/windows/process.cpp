// Processes on Windows: a hidden child process with a time limit, the search
// of the executable path, and the names of the running processes.
#include "platform/platform.hpp"
#include "platform/windows/spawn.hpp"
#include "platform/windows/win32.hpp"

#include <tlhelp32.h>

#include <system_error>

namespace vellumo::platform {
namespace {

namespace fs = std::filesystem;

static_assert(sizeof(PROCESSENTRY32W) == 568, "the process entry of 64-bit Windows");

// A PATH entry without the quotes that may enclose it.
std::wstring_view unquoted(std::wstring_view entry) {
    if (entry.size() >= 2 && entry.front() == L'"' && entry.back() == L'"')
        return entry.substr(1, entry.size() - 2);
    return entry;
}

bool is_file(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether `process` runs the very file `program`.
bool runs_program(HANDLE process, const fs::path& program) {
    std::wstring image(32768, L'\0');  // the longest path Windows has
    DWORD size = static_cast<DWORD>(image.size());
    if (!QueryFullProcessImageNameW(process, 0, image.data(), &size)) return false;
    image.resize(size);
    std::error_code unknown;  // counts as another program
    return fs::equivalent(image, program, unknown);
}

}  // namespace

int System::run_hidden(std::u16string_view application, std::u16string_view command_line,
                       std::uint32_t timeout_ms) {
    // A job holds the child and whatever it starts (py.exe runs python.exe as
    // its own child), so that a time-out ends them all. The child starts
    // suspended until it is in the job, so it cannot start anything outside it.
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    PROCESS_INFORMATION child;
    if (!start_child(wide_string(application).c_str(), command_line,
                     CREATE_NO_WINDOW | CREATE_SUSPENDED, ChildWindow::hidden, nullptr, child)) {
        if (job) CloseHandle(job);
        return -1;
    }
    const bool in_job = job && AssignProcessToJobObject(job, child.hProcess);
    ResumeThread(child.hThread);

    int result = -1;
    if (WaitForSingleObject(child.hProcess, timeout_ms) == WAIT_OBJECT_0) {
        DWORD code = 1;
        GetExitCodeProcess(child.hProcess, &code);
        result = static_cast<int>(code);
    } else if (!in_job || !TerminateJobObject(job, 1)) {
        TerminateProcess(child.hProcess, 1);  // not waited for
    }
    close_child(child);
    if (job) CloseHandle(job);
    return result;
}

// Not SearchPathW: its order looks in the program's folder and the current
// folder first, where anyone may have put a python.exe.
fs::path System::search_path(std::u16string_view file_name) {
    const std::wstring name = wide_string(file_name);
    if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos) return {};
    const std::optional<std::wstring> search = read_environment(L"PATH");
    if (!search) return {};

    std::wstring_view rest = *search;
    for (;;) {
        const std::size_t separator = rest.find(L';');
        const fs::path folder(unquoted(rest.substr(0, separator)));
        // Relative entries ("bin", "\bin", "C:bin") depend on the current folder.
        if (folder.is_absolute()) {
            fs::path candidate = folder / name;
            if (is_file(candidate)) return candidate;
        }
        if (separator == std::wstring_view::npos) return {};
        rest.remove_prefix(separator + 1);
    }
}

ProcessWait System::wait_for_program_exit(std::uint32_t id, const fs::path& program,
                                          std::uint32_t timeout_ms) {
    const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!process) return ProcessWait::not_running;
    // The handle keeps the id from passing to another process meanwhile.
    ProcessWait result = ProcessWait::not_running;
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
        result = ProcessWait::ended;
    else if (runs_program(process, program))
        result = WaitForSingleObject(process, timeout_ms) == WAIT_OBJECT_0 ? ProcessWait::ended
                                                                           : ProcessWait::timed_out;
    CloseHandle(process);
    return result;
}

std::optional<std::vector<std::u16string>> System::running_process_names() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<std::u16string> names;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    // A failing read ends the walk with the names found so far.
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        names.push_back(utf16_string(entry.szExeFile));
    CloseHandle(snapshot);
    return names;
}

}  // namespace vellumo::platform
