// The registry operations against Wine's registry: the same rules the Linux
// stand-in follows, checked on the real calls. Each test works below a key
// of its own, removed afterwards.
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "windows/wine_world.hpp"

namespace vellumo {
namespace {

using platform::os;
using platform::RegistryRoot;
using platform::RegistryType;
using test::u16;
using Bytes = std::vector<std::uint8_t>;

constexpr auto hkcu = RegistryRoot::current_user;
constexpr auto hklm = RegistryRoot::local_machine;

struct Read {
    bool ok;
    std::u16string text;
    bool operator==(const Read&) const = default;
};

Bytes string_data(const std::u16string& text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.c_str());
    return Bytes(bytes, bytes + (text.size() + 1) * 2);
}

class Registry : public ::testing::Test {
protected:
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, test::wide(base).c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, test::wide(base).c_str());
    }

    bool put(std::u16string_view key, std::u16string_view name, const std::u16string& text) {
        return os().registry_set_value(hkcu, path(key), name,
                                       RegistryType::string, string_data(text));
    }
    Read get(std::u16string_view key, std::u16string_view name, std::size_t buffer = 2048) {
        Read r{false, u"untouched"};
        r.ok = os().registry_get_string(hkcu, path(key), name, buffer,
                                        r.text);
        return r;
    }
    std::vector<std::u16string> enumerate(std::u16string_view key) {
        std::vector<std::u16string> names;
        std::u16string name;
        for (std::uint32_t i = 0; os().registry_enum_subkey(hkcu, path(key),
                                                            i, 128, name);
             ++i)
            names.push_back(name);
        return names;
    }

    std::u16string path(std::u16string_view key) const {
        return key.empty() ? base : base + u"\\" + std::u16string(key);
    }

    const std::u16string base =
        u"Software\\VellumoWineTests\\" + u16(std::to_wstring(GetCurrentProcessId()));
};

TEST_F(Registry, KeyAndValueNamesIgnoreLetterCaseAndKeepTheirOwn) {
    ASSERT_TRUE(put(u"MixedCase\\\u00c4rger", u"ValueName", u"v"));
    const struct {
        const char* what;
        std::u16string key;
        std::u16string name;
        bool found;
    } cases[] = {
        {"as written", u"MixedCase\\\u00c4rger", u"ValueName", true},
        {"upper case", u"MIXEDCASE\\\u00c4RGER", u"VALUENAME", true},
        {"lower case, Latin-1 too", u"mixedcase\\\u00e4rger", u"valuename", true},
        {"a different letter", u"MixedCase\\Arger", u"ValueName", false},
        {"a different value", u"MixedCase\\\u00c4rger", u"ValueNames", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(get(c.key, c.name), (c.found ? Read{true, u"v"} : Read{false, u""})) << c.what;

    ASSERT_TRUE(put(u"MIXEDCASE\\\u00c4RGER", u"valuename", u"second"));
    EXPECT_EQ(enumerate(u""), std::vector<std::u16string>{u"MixedCase"});
    EXPECT_EQ(get(u"MixedCase\\\u00c4rger", u"ValueName"), (Read{true, u"second"}));
}

// Names in order of their letters without regard to case. Windows compares
// them upper-cased (as the Linux stand-in does), Wine lower-cased: only
// names with characters between 'Z' and 'a', such as '_', tell the two apart.
TEST_F(Registry, SubkeysEnumerateInNameOrderWithoutRegardToCase) {
    for (const auto* name : {u"b", u"C", u"a", u"3.9", u"3.10", u"_x", u"Zeta"})
        ASSERT_TRUE(put(u"PythonCore\\" + std::u16string(name), u"N", u"v"));
    // Wine's order: '_' (0x5F) before 'a' (0x61); Windows puts it after "Zeta".
    EXPECT_EQ(enumerate(u"PythonCore"),
              (std::vector<std::u16string>{u"3.10", u"3.9", u"_x", u"a", u"b", u"C", u"Zeta"}));
    std::u16string name;
    EXPECT_FALSE(os().registry_enum_subkey(hkcu, base + u"\\Missing", 0, 128, name));
}

TEST_F(Registry, EnumerationReadsNamesShorterThanTheBufferOnly) {
    const std::u16string longest_read = u"a" + std::u16string(126, u'x');  // 127 units
    const std::u16string too_long = u"b" + std::u16string(127, u'x');      // 128 units
    for (const auto& name : {longest_read, too_long, std::u16string(u"c")})
        ASSERT_TRUE(put(u"Enum\\" + name, u"N", u"v"));
    const struct {
        std::uint32_t index;
        bool ok;
        std::u16string name;
    } cases[] = {{0, true, longest_read}, {1, false, u""}, {2, true, u"c"}};
    for (const auto& c : cases) {
        std::u16string name;
        EXPECT_EQ(os().registry_enum_subkey(hkcu, base + u"\\Enum", c.index, 128, name), c.ok)
            << c.index;
        if (c.ok) {
            EXPECT_EQ(name, c.name) << c.index;
        }
    }
}

TEST_F(Registry, StringsOf1023UnitsAreReadWholeAnd1024ReadEmpty) {
    const struct {
        const char* what;
        std::u16string text;
        Read expected;
    } cases[] = {
        {"1023 units", std::u16string(1023, u'a'), {true, std::u16string(1023, u'a')}},
        {"1024 units", std::u16string(1024, u'a'), {false, u""}},
        {"empty", u"", {true, u""}},
        {"beyond the basic plane", u"\U0001F600", {true, u"\U0001F600"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(put(u"Strings", u"N", c.text)) << c.what;
        EXPECT_EQ(get(u"Strings", u"N"), c.expected) << c.what;
    }
    const Bytes unterminated{'a', 0, 'b', 0};
    ASSERT_TRUE(os().registry_set_value(hkcu, base + u"\\Strings", u"Raw", RegistryType::string,
                                        unterminated));
    EXPECT_EQ(get(u"Strings", u"Raw"), (Read{true, u"ab"}));
}

TEST_F(Registry, ValuesAreStoredWithTheRegistrysOwnLayout) {
    const std::uint32_t size = 0x01020304;
    const auto* size_bytes = reinterpret_cast<const std::uint8_t*>(&size);
    ASSERT_TRUE(os().registry_set_value(hkcu, base + u"\\Layout", u"Size", RegistryType::dword,
                                        Bytes(size_bytes, size_bytes + 4)));
    ASSERT_TRUE(put(u"Layout", u"", u"x"));

    const auto dword = test::read_value(HKEY_CURRENT_USER, test::wide(base) + L"\\Layout", L"Size");
    ASSERT_TRUE(dword);
    EXPECT_EQ(dword->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(dword->bytes, test::dword_value_bytes(size));
    const auto by_default = test::read_value(HKEY_CURRENT_USER, test::wide(base) + L"\\Layout", L"");
    ASSERT_TRUE(by_default);
    EXPECT_EQ(by_default->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(by_default->bytes, test::string_value_bytes(L"x"));

    EXPECT_EQ(get(u"Layout", u"Size"), (Read{false, u""}));  // not a string
    EXPECT_EQ(get(u"Layout", u""), (Read{true, u"x"}));
    EXPECT_EQ(get(u"Missing", u"N"), (Read{false, u""}));
}

// The tree delete takes the named key with it under Wine, as under Windows
// (the Linux stand-in empties it and keeps it); the key delete that follows
// it in the engine then finds nothing, which nobody looks at.
TEST_F(Registry, TreeDeleteRemovesTheKeyWithItsValuesAndSubkeys) {
    ASSERT_TRUE(put(u"A", u"Own", u"v"));
    ASSERT_TRUE(put(u"A\\B\\C", u"N", u"v"));
    ASSERT_TRUE(put(u"Sibling", u"N", u"v"));
    EXPECT_FALSE(os().registry_delete_key(hkcu, base + u"\\A"));  // it has sub-keys

    EXPECT_TRUE(os().registry_delete_tree(hkcu, base + u"\\a"));
    EXPECT_FALSE(os().registry_key_exists(hkcu, base + u"\\A\\B"));
    EXPECT_FALSE(os().registry_key_exists(hkcu, base + u"\\A"));
    EXPECT_EQ(get(u"Sibling", u"N"), (Read{true, u"v"}));

    ASSERT_TRUE(put(u"Leaf", u"N", u"v"));
    EXPECT_TRUE(os().registry_delete_key(hkcu, base + u"\\Leaf"));
    EXPECT_FALSE(os().registry_key_exists(hkcu, base + u"\\Leaf"));
    EXPECT_FALSE(os().registry_delete_tree(hkcu, base + u"\\Missing"));
    EXPECT_FALSE(os().registry_delete_key(hkcu, base + u"\\Missing"));
}

// A 64-bit program reads the machine's 64-bit view: what a 32-bit program
// would see (Software\WOW6432Node) stays out of sight.
TEST_F(Registry, MachineReadsSeeTheSixtyFourBitView) {
    const std::wstring key = L"Software\\VellumoWineTests\\View-" +
                             std::to_wstring(GetCurrentProcessId());
    auto write = [&](REGSAM view, const wchar_t* text) {
        HKEY opened = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE | view, nullptr, &opened, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(opened, L"Bits", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>((wcslen(text) + 1) * 2));
        RegCloseKey(opened);
    };
    write(KEY_WOW64_32KEY, L"32");
    write(KEY_WOW64_64KEY, L"64");
    std::u16string text;
    EXPECT_TRUE(os().registry_get_string(hklm, u16(key), u"Bits", 2048, text));
    EXPECT_EQ(text, u"64");
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), view, 0);
}

}  // namespace
}  // namespace vellumo
