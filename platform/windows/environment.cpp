// The process environment on Windows.
#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

namespace vellumo::platform {

std::optional<std::wstring> read_environment(const wchar_t* name) {
    std::wstring value(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD got = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (got == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::wstring();  // set and empty
        }
        if (got < value.size()) {
            value.resize(got);
            return value;
        }
        value.resize(got);  // the size asked for, terminator included; it may grow meanwhile
    }
}

std::optional<std::u16string> System::environment_variable(std::u16string_view name) {
    const std::optional<std::wstring> value = read_environment(wide_string(name).c_str());
    if (!value) return std::nullopt;
    return utf16_string(*value);
}

std::u16string program_files_fallback() { return u"C:\\Program Files"; }

}  // namespace vellumo::platform
