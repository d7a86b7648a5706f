// What the start-up modes need from Windows: the COM apartment, the
// arguments, the environment, the single-instance mutex, the temporary
// folder, detached processes and the self-deletion.
#include "platform/platform.hpp"
#include "platform/windows/spawn.hpp"
#include "platform/windows/win32.hpp"

#include <objbase.h>
#include <shellapi.h>

namespace vellumo::platform {
namespace {

namespace fs = std::filesystem;

// The mutex this process created; null while none is held.
HANDLE instance_mutex = nullptr;

// The System32 folder, where cmd.exe and ping.exe live; empty when unknown.
std::wstring system_folder() {
    wchar_t buffer[MAX_PATH + 1];
    const UINT n = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    return n == 0 || n > MAX_PATH ? std::wstring() : std::wstring(buffer, n);
}

}  // namespace

void System::enter_com_apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

void System::leave_com_apartment() { CoUninitialize(); }

std::vector<std::u16string> System::command_line_arguments() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return {};
    std::vector<std::u16string> split;
    for (int i = 0; i < count; ++i) split.push_back(utf16_string(arguments[i]));
    LocalFree(arguments);
    return split;
}

fs::path System::environment_path(std::u16string_view name) {
    const std::optional<std::wstring> value = read_environment(wide_string(name).c_str());
    return value ? fs::path(*value) : fs::path();
}

InstanceMutex System::create_instance_mutex(std::u16string_view name) {
    if (instance_mutex) return InstanceMutex::created;
    const HANDLE mutex = CreateMutexW(nullptr, TRUE, wide_string(name).c_str());
    if (!mutex) return InstanceMutex::unavailable;
    // The other instance's mutex: its handle stays open to the end of the process.
    if (GetLastError() == ERROR_ALREADY_EXISTS) return InstanceMutex::already_exists;
    instance_mutex = mutex;
    return InstanceMutex::created;
}

void System::release_instance_mutex() {
    if (!instance_mutex) return;
    ReleaseMutex(instance_mutex);
    CloseHandle(instance_mutex);
    instance_mutex = nullptr;
}

std::uint32_t System::current_process_id() { return GetCurrentProcessId(); }

fs::path System::temporary_folder() {
    // The user's own temporary folder (TMP, TEMP or the profile's), which
    // other users cannot write to.
    std::wstring buffer(MAX_PATH + 1, L'\0');
    for (;;) {
        const DWORD n = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(n);  // the size asked for, terminator included
    }
    fs::path folder(buffer);
    if (!folder.is_absolute()) return {};
    if (!folder.has_filename()) folder = folder.parent_path();  // the trailing backslash
    return folder;
}

HeldFolder::~HeldFolder() = default;  // nothing held: the path is used

HeldFolder System::open_temporary_folder() { return HeldFolder(temporary_folder(), -1); }

NewFile System::copy_to_new_file_in(const HeldFolder& folder, const fs::path& name,
                                    const fs::path& source) {
    return copy_to_new_file(source, folder.path() / name);
}

bool System::remove_file_in(const HeldFolder& folder, const fs::path& name) {
    // A link at the name stays, as on Linux; remove_file takes no folder.
    const fs::path file = folder.path() / name;
    const DWORD attributes = GetFileAttributesW(file.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           remove_file(file) == FileRemoval::removed;
}

bool System::start_process(const HeldFolder& folder, const fs::path& name,
                           std::u16string_view command_line, const fs::path& working_folder) {
    const fs::path program = folder.path() / name;
    const fs::path& current = working_folder.empty() ? folder.path() : working_folder;
    PROCESS_INFORMATION child;
    if (!start_child(program.c_str(), command_line, 0, ChildWindow::as_usual,
                     current.empty() ? nullptr : current.c_str(), child))
        return false;
    close_child(child);
    return true;
}

bool System::start_delayed_delete(const fs::path& file) {
    // cmd.exe expands %NAME% even inside quotes, and a quote would end the
    // path: such a name is left alone rather than another file deleted.
    const std::wstring& path = file.native();
    if (path.find_first_of(L"\"%") != std::wstring::npos) return false;
    // cmd.exe by its full path, and System32 as its current folder, where it
    // finds ping.exe first: neither is taken from the folder we run from.
    const std::wstring folder = system_folder();
    if (folder.empty()) return false;
    const std::wstring cmd = folder + L"\\cmd.exe";
    const std::wstring line = L"cmd.exe /c ping 127.0.0.1 -n 3 > nul & del /f /q \"" + path + L"\"";
    PROCESS_INFORMATION child;
    if (!start_child(cmd.c_str(), utf16_string(line), CREATE_NO_WINDOW, ChildWindow::as_usual,
                     folder.c_str(), child))
        return false;
    close_child(child);
    return true;
}

void System::open_with_default_handler(std::u16string_view target,
                                       const fs::path& working_folder) {
    ShellExecuteW(nullptr, L"open", wide_string(target).c_str(), nullptr,
                  working_folder.empty() ? nullptr : working_folder.c_str(), SW_SHOWNORMAL);
}

}  // namespace vellumo::platform
