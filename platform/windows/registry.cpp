// The System's registry operations on the Windows registry, with the buffer
// sizes the callers give. Each call opens its key and closes it again.
#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

#include <vector>

namespace vellumo::platform {
namespace {

HKEY hive(RegistryRoot root) {
    return root == RegistryRoot::current_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// Closes a key when it goes out of scope.
class Key {
public:
    Key() = default;
    ~Key() {
        if (handle_) RegCloseKey(handle_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &handle_; }
    HKEY get() const { return handle_; }

private:
    HKEY handle_ = nullptr;
};

bool open_for_reading(RegistryRoot root, std::u16string_view key, Key& opened) {
    return RegOpenKeyExW(hive(root), wide_string(key).c_str(), 0, KEY_READ, opened.out()) ==
           ERROR_SUCCESS;
}

DWORD clamp_to_dword(std::size_t size) { return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size); }

}  // namespace

bool System::registry_set_value(RegistryRoot root, std::u16string_view key,
                                std::u16string_view name, RegistryType type,
                                std::span<const std::uint8_t> data) {
    if (data.size() > MAXDWORD) return false;
    Key opened;
    if (RegCreateKeyExW(hive(root), wide_string(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, opened.out(), nullptr) != ERROR_SUCCESS)
        return false;
    // A string without a name goes to the default value with no name at all.
    const std::wstring value_name = wide_string(name);
    const wchar_t* named =
        name.empty() && type == RegistryType::string ? nullptr : value_name.c_str();
    return RegSetValueExW(opened.get(), named, 0, static_cast<DWORD>(type), data.data(),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool System::registry_delete_tree(RegistryRoot root, std::u16string_view key) {
    // An empty path is the hive itself: never emptied.
    if (key.empty()) return false;
    return RegDeleteTreeW(hive(root), wide_string(key).c_str()) == ERROR_SUCCESS;
}

bool System::registry_delete_key(RegistryRoot root, std::u16string_view key) {
    if (key.empty()) return false;
    return RegDeleteKeyW(hive(root), wide_string(key).c_str()) == ERROR_SUCCESS;
}

bool System::registry_get_string(RegistryRoot root, std::u16string_view key,
                                 std::u16string_view name, std::size_t buffer_bytes,
                                 std::u16string& value) {
    value.clear();
    std::vector<wchar_t> buffer((buffer_bytes + 1) / 2 + 1, L'\0');
    DWORD size = clamp_to_dword(buffer_bytes);
    if (RegGetValueW(hive(root), wide_string(key).c_str(), wide_string(name).c_str(),
                     RRF_RT_REG_SZ, nullptr, buffer.data(), &size) != ERROR_SUCCESS)
        return false;
    const std::wstring_view text(buffer.data(), size / sizeof(wchar_t));
    value = utf16_string(text.substr(0, text.find(L'\0')));
    return true;
}

bool System::registry_key_exists(RegistryRoot root, std::u16string_view key) {
    Key opened;
    return open_for_reading(root, key, opened);
}

bool System::registry_enum_subkey(RegistryRoot root, std::u16string_view key,
                                  std::uint32_t index, std::size_t name_capacity,
                                  std::u16string& name) {
    Key opened;
    if (name_capacity == 0 || !open_for_reading(root, key, opened)) return false;
    std::vector<wchar_t> buffer(name_capacity, L'\0');
    DWORD length = clamp_to_dword(name_capacity);
    if (RegEnumKeyExW(opened.get(), index, buffer.data(), &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
        return false;
    name = utf16_string(std::wstring_view(buffer.data(), length));
    return true;
}

}  // namespace vellumo::platform
