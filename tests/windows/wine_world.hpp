// What the Windows tests share: their own temporary folders (Z:\ paths of
// Linux folders, which wine.sh removes after the run), programs started with
// a chosen environment, raw registry reads and Unix links seen from Wine.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace vellumo::test {

namespace fs = std::filesystem;

inline std::u16string u16(const std::wstring& text) { return {text.begin(), text.end()}; }
inline std::wstring wide(const std::u16string& text) { return {text.begin(), text.end()}; }

// A Linux path (from the build) as Wine sees it: drive Z: is the root.
inline fs::path windows_path(const std::string& unix_path) {
    std::wstring text = L"Z:";
    for (const char c : unix_path) text += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return text;
}

// A fresh folder for the running test, below the run's temporary folder.
inline fs::path fresh_folder() {
    static int count = 0;
    wchar_t buffer[1024];
    const DWORD length = GetEnvironmentVariableW(L"VELLUMO_TEST_TMP", buffer, 1024);
    const fs::path base = length > 0 && length < 1024 ? fs::path(buffer) : fs::temp_directory_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "test";
    for (char& c : name)
        if (c == '/') c = '-';
    const fs::path folder = base / (name + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                                    std::to_string(++count));
    fs::create_directories(folder);
    return folder;
}

inline std::string read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Whether `file` holds exactly `expected`; a failure names the sizes only
// (printing a diff of large binary contents would take all memory).
inline ::testing::AssertionResult holds(const fs::path& file, const std::string& expected) {
    const std::string actual = read_bytes(file);
    if (actual == expected) return ::testing::AssertionSuccess();
    const std::u8string name = file.u8string();  // string() throws for text outside the code page
    return ::testing::AssertionFailure() << std::string(name.begin(), name.end()) << " holds "
                                         << actual.size()
                                         << " other bytes than the " << expected.size() << " expected";
}

inline void write_bytes(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// Whether anything, a dangling link included, is at `path`.
inline bool present(const fs::path& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Polls `condition` until it holds or `limit` has passed; its last answer.
// The limit holds on a loaded machine, where Wine starts programs slowly.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::minutes(1)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// What became of a started program. A failing comparison prints it, so a
// test that expects an exit code says whether the program started at all
// (the error of the start), ran past the limit (it was killed), could no
// longer be waited for (the error of the wait), or which code it gave.
struct Exit {
    enum class How { not_started, killed, lost, ended };
    How how = How::not_started;
    DWORD value = 0;  // the exit code when ended, else the error of the start or the wait

    friend bool operator==(const Exit& exit, long code) {
        return exit.how == How::ended && exit.value == static_cast<DWORD>(code);
    }
    friend std::ostream& operator<<(std::ostream& out, const Exit& exit) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(exit.value));
        switch (exit.how) {
        case How::not_started: return out << "not started (error " << exit.value << ")";
        case How::killed: return out << "still running at the limit (killed)";
        case How::lost: return out << "could not be waited for (error " << exit.value << ")";
        case How::ended: break;
        }
        return out << "ended with exit code " << hex << " (" << static_cast<long>(exit.value)
                   << ")";
    }
};

// A started process; killed when it is still running at the end of the test.
class Process {
public:
    explicit Process(DWORD start_error) : start_error_(start_error) {}
    Process(HANDLE process, DWORD id) : handle_(process), id_(id) {}
    Process(Process&& other) noexcept
        : handle_(other.handle_), id_(other.id_), start_error_(other.start_error_) {
        other.handle_ = nullptr;
    }
    Process& operator=(Process&&) = delete;
    ~Process() {
        if (handle_ == nullptr) return;
        if (WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(handle_, 99);
            WaitForSingleObject(handle_, 60000);
        }
        CloseHandle(handle_);
    }
    explicit operator bool() const { return handle_ != nullptr; }
    DWORD id() const { return id_; }
    // How it ended; one still running after `limit_ms` is killed.
    Exit wait(DWORD limit_ms = 120000) {
        if (handle_ == nullptr) return {Exit::How::not_started, start_error_};
        const DWORD waited = WaitForSingleObject(handle_, limit_ms);
        if (waited == WAIT_TIMEOUT) {
            TerminateProcess(handle_, 99);
            WaitForSingleObject(handle_, 60000);
            return {Exit::How::killed, 0};
        }
        DWORD code = 0;
        if (waited != WAIT_OBJECT_0 || !GetExitCodeProcess(handle_, &code))
            return {Exit::How::lost, GetLastError()};
        return {Exit::How::ended, code};
    }

private:
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
    DWORD start_error_ = 0;
};

// Changes to an environment: a value sets a variable, nullopt removes it.
using Environment = std::map<std::wstring, std::optional<std::wstring>>;

// The environment of this process with `changes` applied.
inline std::wstring environment_block(const Environment& changes) {
    std::map<std::wstring, std::wstring> variables;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const std::size_t equals = text.find(L'=', 1);  // "=C:=C:\..." entries start with '='
        if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    FreeEnvironmentStringsW(strings);
    for (const auto& [name, value] : changes) {
        for (auto it = variables.begin(); it != variables.end();)
            it = _wcsicmp(it->first.c_str(), name.c_str()) == 0 ? variables.erase(it) : std::next(it);
        if (value) variables[name] = *value;
    }
    std::wstring block;
    for (const auto& [name, value] : variables) block += name + L"=" + value + L'\0';
    block += L'\0';
    return block;
}

// Starts `program` with `arguments` appended to its quoted path. With
// `before_run`, the process is made suspended and runs once `before_run` has
// been given its id.
inline Process start(const fs::path& program, const std::wstring& arguments,
                     const Environment& changes = {}, const fs::path& current_folder = {},
                     const std::function<void(DWORD id)>& before_run = {}) {
    std::wstring command_line = L"\"" + program.wstring() + L"\"";
    if (!arguments.empty()) command_line += L" " + arguments;
    std::wstring environment = environment_block(changes);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT | (before_run ? CREATE_SUSPENDED : 0),
                        environment.data(),
                        current_folder.empty() ? nullptr : current_folder.c_str(), &startup, &info))
        return Process(GetLastError());
    if (before_run) {
        before_run(info.dwProcessId);
        ResumeThread(info.hThread);
    }
    CloseHandle(info.hThread);
    return {info.hProcess, info.dwProcessId};
}

inline fs::path test_helper() { return windows_path(TEST_HELPER_PATH); }

// A raw registry value under HKEY_CURRENT_USER: its type and bytes.
struct RegistryValue {
    DWORD type = 0;
    std::string bytes;
};

inline std::optional<RegistryValue> read_value(HKEY root, const std::wstring& key,
                                               const std::wstring& name) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return std::nullopt;
    RegistryValue value;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(opened, name.c_str(), nullptr, &value.type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        value.bytes.resize(size);
        status = RegQueryValueExW(opened, name.c_str(), nullptr, &value.type,
                                  reinterpret_cast<BYTE*>(value.bytes.data()), &size);
    }
    RegCloseKey(opened);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return value;
}

inline bool key_exists(HKEY root, const std::wstring& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

// The REG_SZ bytes of `text`: its UTF-16 units and one terminator.
inline std::string string_value_bytes(const std::wstring& text) {
    const auto* data = reinterpret_cast<const char*>(text.c_str());
    return std::string(data, (text.size() + 1) * sizeof(wchar_t));
}

inline std::string dword_value_bytes(std::uint32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

// Makes `link` a Unix symbolic link to the existing `target`, both paths on
// drive Z:. Wine 8 makes no link of its own: CreateSymbolicLinkW reports
// success and creates nothing, FSCTL_SET_REPARSE_POINT answers
// ERROR_NOT_SUPPORTED and "mklink /J" fails. So ln makes it, and the test
// helper starts it: Wine starts a Unix program with no process object, yet
// reports success with whatever an earlier start left in PROCESS_INFORMATION
// (and resumes that thread handle), so a test that starts ln itself and
// closes what it is given closes handles of its own, its standard output
// among them. With nothing to wait on, the link is awaited. Wine shows a Unix
// link to a folder as a reparse point, one to a file as a plain file.
inline ::testing::AssertionResult make_unix_link(const fs::path& target, const fs::path& link) {
    auto unix_text = [](const fs::path& path) {
        std::wstring text = path.wstring();
        if (text.size() >= 2 && (text[0] == L'Z' || text[0] == L'z') && text[1] == L':')
            text.erase(0, 2);
        for (wchar_t& c : text)
            if (c == L'\\') c = L'/';
        return L"\"" + text + L"\"";
    };
    const Exit started =
        start(test_helper(), L"link " + unix_text(target) + L" " + unix_text(link)).wait();
    if (started != 0)
        return ::testing::AssertionFailure() << "ln was not started: the helper " << started;
    if (!eventually([&] { return present(link); })) {
        const std::u8string name = link.u8string();
        return ::testing::AssertionFailure() << "no link appeared at "
                                             << std::string(name.begin(), name.end());
    }
    return ::testing::AssertionSuccess();
}

}  // namespace vellumo::test
