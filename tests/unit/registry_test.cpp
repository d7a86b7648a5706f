#include "engine/registry.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/install.hpp"
#include "engine/install_record.hpp"
#include "engine/product_info.hpp"
#include "hermetic_env.hpp"
#include "registry_fixture.hpp"
#include "sandbox_fixture.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
namespace store = platform::registry_store;
using platform::os;
using platform::RegistryType;
using test::read_registry_value;
using test::string_data;
using test::write_registry_dword;
using test::write_registry_string;
using Bytes = std::vector<std::uint8_t>;

constexpr auto hkcu = RegistryRoot::current_user;
constexpr auto hklm = RegistryRoot::local_machine;
constexpr std::uint32_t reg_sz = 1;
constexpr std::uint32_t reg_dword = 4;
const std::u16string sandbox_key = u"Software\\Vellumo\\SetupSandbox\\";

std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

// A value through the platform's own read, with its success.
struct Read {
    bool ok;
    std::u16string text;
    bool operator==(const Read&) const = default;
};

Read get(RegistryRoot root, std::u16string_view key, std::u16string_view name,
         std::size_t buffer_bytes = 2048) {
    Read r{false, u"untouched"};
    r.ok = os().registry_get_string(root, key, name, buffer_bytes, r.text);
    return r;
}

bool put(RegistryRoot root, std::u16string_view key, std::u16string_view name,
         std::u16string_view text) {
    return os().registry_set_value(root, key, name, RegistryType::string, string_data(text));
}

std::vector<std::u16string> enumerate(RegistryRoot root, std::u16string_view key,
                                      std::size_t capacity = 128) {
    std::vector<std::u16string> names;
    std::u16string name;
    for (std::uint32_t i = 0; os().registry_enum_subkey(root, key, i, capacity, name); ++i)
        names.push_back(name);
    return names;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override { sandbox_root.clear(); }
    void TearDown() override { sandbox_root.clear(); }

    void sandbox() { sandbox_root = env.root() / "sandbox"; }
    static fs::path user_file() { return store::hive_file(hkcu); }
    static fs::path machine_file() { return store::hive_file(hklm); }

    test::HermeticEnv env;
};

// ---- The engine's four operations ---------------------------------------------

TEST_F(Registry, StringWriteCreatesKeyAndParentsAndStoresTerminator) {
    reg_set_string(u"Software\\A", u"N", u"x");

    const auto value = read_registry_value(hkcu, u"Software\\A", u"N");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, reg_sz);
    EXPECT_EQ(value->data, (Bytes{'x', 0, 0, 0}));
    EXPECT_TRUE(os().registry_key_exists(hkcu, u"Software"));
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\A", u"N"), u"x");
}

TEST_F(Registry, SandboxMovesCurrentUserWritesBelowTheSandboxKey) {
    sandbox();
    reg_set_string(u"Software\\A", u"N", u"x");
    reg_set_dword(u"Software\\A", u"D", 7);

    EXPECT_TRUE(read_registry_value(hkcu, sandbox_key + u"Software\\A", u"N"));
    EXPECT_TRUE(read_registry_value(hkcu, sandbox_key + u"Software\\A", u"D"));
    EXPECT_FALSE(os().registry_key_exists(hkcu, u"Software\\A"));
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\A", u"N"), u"x");
}

TEST_F(Registry, SandboxMovesCurrentUserReadsButNeverMachineReads) {
    ASSERT_TRUE(write_registry_string(hkcu, u"Software\\K", u"V", u"user"));
    ASSERT_TRUE(write_registry_string(hkcu, sandbox_key + u"Software\\K", u"V", u"sandboxed"));
    ASSERT_TRUE(write_registry_string(hklm, u"Software\\K", u"V", u"machine"));
    ASSERT_TRUE(write_registry_string(hklm, sandbox_key + u"Software\\K", u"V", u"moved"));

    EXPECT_EQ(reg_get_string(hkcu, u"Software\\K", u"V"), u"user");
    EXPECT_EQ(reg_get_string(hklm, u"Software\\K", u"V"), u"machine");
    sandbox();
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\K", u"V"), u"sandboxed");
    EXPECT_EQ(reg_get_string(hklm, u"Software\\K", u"V"), u"machine");
}

TEST_F(Registry, EffectiveKeyPathPrefixesOnlyCurrentUserInSandboxMode) {
    struct Case {
        RegistryRoot root;
        bool sandboxed;
        std::u16string expected;
    };
    const Case cases[] = {
        {hkcu, false, u"Software\\A"},
        {hkcu, true, u"Software\\Vellumo\\SetupSandbox\\Software\\A"},
        {hklm, false, u"Software\\A"},
        {hklm, true, u"Software\\A"},
    };
    for (const auto& c : cases) {
        sandbox_root = c.sandboxed ? env.root() / "sandbox" : fs::path();
        EXPECT_EQ(effective_key_path(c.root, u"Software\\A"), c.expected)
            << (c.root == hkcu ? "HKCU" : "HKLM") << (c.sandboxed ? " sandboxed" : "");
    }
    EXPECT_EQ(std::u16string_view(sandbox_registry_prefix).size(), 30u);
}

TEST_F(Registry, EmptyTextIsTwoBytesAndEmptyNameIsTheDefaultValue) {
    reg_set_string(u"Software\\A", u"Empty", u"");
    reg_set_string(u"Software\\A", u"", u"default");
    reg_set_string(u"Software\\A", u"Named", u"named");

    const auto empty = read_registry_value(hkcu, u"Software\\A", u"Empty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->type, reg_sz);
    EXPECT_EQ(empty->data, (Bytes{0, 0}));
    EXPECT_EQ(get(hkcu, u"Software\\A", u"Empty"), (Read{true, u""}));
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\A", u""), u"default");
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\A", u"Named"), u"named");
}

TEST_F(Registry, DwordIsFourLittleEndianBytesAndReplacesAString) {
    reg_set_string(u"Software\\A", u"Size", u"text first");
    reg_set_dword(u"Software\\A", u"Size", 0x12345678);

    const auto value = read_registry_value(hkcu, u"Software\\A", u"Size");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, reg_dword);
    EXPECT_EQ(value->data, (Bytes{0x78, 0x56, 0x34, 0x12}));
}

TEST_F(Registry, DeleteKeyTreeRemovesTheKeyItsValuesAndSubkeysOnly) {
    reg_set_string(u"Software\\Vendor", u"Keep", u"parent");
    reg_set_string(u"Software\\Vendor\\App", u"", u"default");
    reg_set_dword(u"Software\\Vendor\\App", u"Size", 1);
    reg_set_string(u"Software\\Vendor\\App\\Sub\\Deeper", u"N", u"deep");
    reg_set_string(u"Software\\Vendor\\Application", u"N", u"sibling");

    reg_delete_key_tree(u"Software\\Vendor\\App");

    EXPECT_FALSE(os().registry_key_exists(hkcu, u"Software\\Vendor\\App"));
    EXPECT_FALSE(os().registry_key_exists(hkcu, u"Software\\Vendor\\App\\Sub"));
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\Vendor", u"Keep"), u"parent");
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\Vendor\\Application", u"N"), u"sibling");
    EXPECT_EQ(enumerate(hkcu, u"Software\\Vendor"), std::vector<std::u16string>{u"Application"});

    // Made again, the key starts empty.
    reg_set_string(u"Software\\Vendor\\App", u"Other", u"new");
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\Vendor\\App", u""), u"");
    EXPECT_TRUE(enumerate(hkcu, u"Software\\Vendor\\App").empty());
}

TEST_F(Registry, DeleteKeyTreeOfAMissingKeyChangesNothing) {
    reg_delete_key_tree(u"Software\\Missing");
    EXPECT_FALSE(fs::exists(user_file())) << "a delete must not create the store";

    reg_set_string(u"Software\\Present", u"N", u"v");
    const std::string before = read_file(user_file());
    reg_delete_key_tree(u"Software\\Missing");
    EXPECT_EQ(read_file(user_file()), before);
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\Present", u"N"), u"v");
}

TEST_F(Registry, DeleteKeyTreeInSandboxModeLeavesTheRealKey) {
    ASSERT_TRUE(write_registry_string(hkcu, u"Software\\A", u"N", u"real"));
    sandbox();
    reg_set_string(u"Software\\A", u"N", u"sandboxed");

    reg_delete_key_tree(u"Software\\A");

    EXPECT_FALSE(os().registry_key_exists(hkcu, sandbox_key + u"Software\\A"));
    EXPECT_TRUE(os().registry_key_exists(hkcu, u"Software\\Vellumo\\SetupSandbox\\Software"));
    EXPECT_EQ(get(hkcu, u"Software\\A", u"N"), (Read{true, u"real"}));
}

TEST_F(Registry, StringOfExactly1023UnitsIsReadWholeAnd1024ReadsEmpty) {
    const std::u16string fits(1023, u'a');
    const std::u16string too_long(1024, u'b');
    reg_set_string(u"Software\\A", u"Fits", fits);
    reg_set_string(u"Software\\A", u"TooLong", too_long);

    EXPECT_EQ(read_registry_value(hkcu, u"Software\\A", u"Fits")->data.size(), 2048u);
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\A", u"Fits"), fits);
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\A", u"TooLong"), u"");
}

TEST_F(Registry, GetStringFailsOnWhatIsNotAFittingStringValue) {
    ASSERT_TRUE(write_registry_dword(hkcu, u"Software\\A", u"Dword", 0x41));
    ASSERT_TRUE(write_registry_string(hkcu, u"Software\\A", u"Present", u"v"));

    struct Case {
        const char* what;
        std::u16string key;
        std::u16string name;
    };
    const Case cases[] = {
        {"a DWORD value", u"Software\\A", u"Dword"},
        {"a missing value", u"Software\\A", u"Absent"},
        {"the missing default value", u"Software\\A", u""},
        {"a missing key", u"Software\\B", u"Present"},
        {"a value of the parent's name below it", u"Software\\A\\Present", u"Present"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(get(hkcu, c.key, c.name), (Read{false, u""})) << c.what;
        EXPECT_EQ(reg_get_string(hkcu, c.key, c.name), u"") << c.what;
    }
}

TEST_F(Registry, GetStringOfAMissingStoreIsEmptyAndCreatesNothing) {
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\A", u"N"), u"");
    EXPECT_EQ(reg_get_string(hklm, u"Software\\A", u"N"), u"");
    EXPECT_FALSE(fs::exists(user_file().parent_path()));
    EXPECT_FALSE(fs::exists(machine_file().parent_path()));
}

// ---- The stand-in's string read: RegGetValueW with RRF_RT_REG_SZ ----------------

TEST_F(Registry, StringReadFollowsTheBufferAndTerminatorRules) {
    const auto units = [](std::size_t count, bool terminated) {
        Bytes data(count * 2, 'a');
        for (std::size_t i = 1; i < data.size(); i += 2) data[i] = 0;
        if (terminated) data.insert(data.end(), 2, 0);
        return data;
    };
    struct Case {
        const char* what;
        Bytes data;
        Read expected;
    };
    const Case cases[] = {
        {"1023 units and terminator", units(1023, true), {true, std::u16string(1023, u'a')}},
        {"1024 units and terminator", units(1024, true), {false, u""}},
        {"1023 units, no terminator: one is added and fits", units(1023, false),
         {true, std::u16string(1023, u'a')}},
        {"1024 units, no terminator: the added one does not fit", units(1024, false),
         {false, u""}},
        {"no bytes at all", {}, {true, u""}},
        {"text up to the first null unit", {'a', 0, 'b', 0, 0, 0, 'c', 0, 0, 0}, {true, u"ab"}},
        {"units beyond the basic plane", {0x3D, 0xD8, 0x00, 0xDE, 0, 0}, {true, u"\U0001F600"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(test::write_registry_value(hkcu, u"Software\\A", u"N", reg_sz, c.data));
        EXPECT_EQ(get(hkcu, u"Software\\A", u"N"), c.expected) << c.what;
    }
}

// ---- Names, paths and enumeration --------------------------------------------------

TEST_F(Registry, KeyAndValueNamesIgnoreLetterCase) {
    ASSERT_TRUE(put(hkcu, u"Software\\MixedCase\\\u00c4rger\\\u0414om", u"ValueName", u"v"));

    struct Case {
        const char* what;
        std::u16string key;
        std::u16string name;
        bool found;
    };
    const Case cases[] = {
        {"as written", u"Software\\MixedCase\\\u00c4rger\\\u0414om", u"ValueName", true},
        {"upper case", u"SOFTWARE\\MIXEDCASE\\\u00c4RGER\\\u0414OM", u"VALUENAME", true},
        {"lower case, Latin-1 and Cyrillic too", u"software\\mixedcase\\\u00e4rger\\\u0434om",
         u"valuename", true},
        {"a different letter", u"Software\\MixedCase\\Arger\\\u0414om", u"ValueName", false},
        {"a different value", u"Software\\MixedCase\\\u00c4rger\\\u0414om", u"ValueNames", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(get(hkcu, c.key, c.name), (c.found ? Read{true, u"v"} : Read{false, u""}))
            << c.what;
}

TEST_F(Registry, NamesKeepTheCaseTheyWereCreatedWith) {
    ASSERT_TRUE(put(hkcu, u"Software\\Python\\PythonCore\\3.12-arm", u"N", u"first"));
    ASSERT_TRUE(put(hkcu, u"SOFTWARE\\PYTHON\\PYTHONCORE\\3.12-ARM", u"n", u"second"));
    ASSERT_TRUE(put(hkcu, u"SOFTWARE\\PYTHON\\PYTHONCORE\\3.13-ARM", u"N", u"third"));

    EXPECT_EQ(enumerate(hkcu, u""), std::vector<std::u16string>{u"Software"});
    EXPECT_EQ(enumerate(hkcu, u"software\\python\\pythoncore"),
              (std::vector<std::u16string>{u"3.12-arm", u"3.13-ARM"}));
    EXPECT_EQ(get(hkcu, u"Software\\Python\\PythonCore\\3.12-arm", u"N"),
              (Read{true, u"second"}));
}

TEST_F(Registry, SubkeysEnumerateInUpperCasedNameOrder) {
    for (const auto* name : {u"b", u"C", u"a", u"3.9", u"3.10", u"_x", u"Zeta"})
        ASSERT_TRUE(test::create_registry_key(hkcu, u"Software\\Python\\PythonCore\\" +
                                                        std::u16string(name)));

    // Upper-cased, 'a' (0x41) comes before '_' (0x5F) although 0x61 would not.
    const std::vector<std::u16string> sorted{u"3.10", u"3.9", u"a", u"b", u"C", u"Zeta", u"_x"};
    EXPECT_EQ(enumerate(hkcu, u"Software\\Python\\PythonCore"), sorted);
    std::u16string name = u"untouched";
    EXPECT_FALSE(os().registry_enum_subkey(hkcu, u"Software\\Python\\PythonCore", 7, 128, name));
    EXPECT_FALSE(os().registry_enum_subkey(hkcu, u"Software\\Missing", 0, 128, name));

    ASSERT_TRUE(os().registry_delete_key(hkcu, u"Software\\Python\\PythonCore\\A"));
    EXPECT_EQ(enumerate(hkcu, u"Software\\Python\\PythonCore"),
              (std::vector<std::u16string>{u"3.10", u"3.9", u"b", u"C", u"Zeta", u"_x"}));
}

TEST_F(Registry, EnumerationReadsNamesShorterThanTheBufferOnly) {
    const std::u16string longest_read = u"a" + std::u16string(126, u'x');  // 127 units
    const std::u16string too_long = u"b" + std::u16string(127, u'x');      // 128 units
    for (const auto& name : {longest_read, too_long, std::u16string(u"c")})
        ASSERT_TRUE(test::create_registry_key(hkcu, u"Software\\Enum\\" + name));

    struct Case {
        std::uint32_t index;
        bool ok;
        std::u16string name;
    };
    const Case cases[] = {{0, true, longest_read}, {1, false, u""}, {2, true, u"c"}};
    for (const auto& c : cases) {
        std::u16string name;
        EXPECT_EQ(os().registry_enum_subkey(hkcu, u"Software\\Enum", c.index, 128, name), c.ok)
            << c.index;
        if (c.ok) {
            EXPECT_EQ(name, c.name) << c.index;
        }
    }
}

TEST_F(Registry, KeyPathForms) {
    struct Case {
        const char* what;
        std::u16string path;
        bool accepted;
        std::u16string read_as;  // where the value is then found
    };
    const Case cases[] = {
        {"a trailing backslash is ignored", u"Software\\P\\", true, u"Software\\P"},
        {"the path ends at a null unit", std::u16string(u"Software\\Q\0Other", 16), true,
         u"Software\\Q"},
        {"the empty path is the hive itself", u"", true, u""},
        {"a leading backslash", u"\\Software\\R", false, u"Software\\R"},
        {"an empty component", u"Software\\\\S", false, u"Software\\S"},
        {"two trailing backslashes", u"Software\\T\\\\", false, u"Software\\T"},
        {"a name of 256 units", u"Software\\" + std::u16string(256, u'u'), false, u"Software"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(put(hkcu, c.path, u"Form", u"v"), c.accepted) << c.what;
        EXPECT_EQ(get(hkcu, c.read_as, u"Form").ok, c.accepted) << c.what;
    }
    EXPECT_TRUE(put(hkcu, u"Software\\" + std::u16string(255, u'u'), u"N", u"v"));
}

TEST_F(Registry, DeleteTreeEmptiesTheKeyButKeepsIt) {
    ASSERT_TRUE(put(hkcu, u"Software\\A", u"Own", u"v"));
    ASSERT_TRUE(put(hkcu, u"Software\\A\\B\\C", u"N", u"v"));

    EXPECT_TRUE(os().registry_delete_tree(hkcu, u"software\\a"));

    EXPECT_TRUE(os().registry_key_exists(hkcu, u"Software\\A"));
    EXPECT_FALSE(get(hkcu, u"Software\\A", u"Own").ok);
    EXPECT_TRUE(enumerate(hkcu, u"Software\\A").empty());
    EXPECT_FALSE(os().registry_delete_tree(hkcu, u"Software\\Missing"));
}

TEST_F(Registry, DeleteKeyRefusesAKeyWithSubkeysAndTheHive) {
    ASSERT_TRUE(put(hkcu, u"Software\\A\\B", u"N", u"v"));
    EXPECT_FALSE(os().registry_delete_key(hkcu, u"Software\\A"));
    EXPECT_FALSE(os().registry_delete_key(hkcu, u""));
    EXPECT_FALSE(os().registry_delete_key(hkcu, u"Software\\Missing"));
    EXPECT_TRUE(os().registry_delete_key(hkcu, u"Software\\A\\B"));
    EXPECT_TRUE(os().registry_delete_key(hkcu, u"Software\\A"));
    EXPECT_FALSE(os().registry_key_exists(hkcu, u"Software\\A"));
    EXPECT_FALSE(os().registry_delete_tree(hkcu, u"Software\\A"));
}

// ---- Where the hives live, and what is never written ----------------------------------

TEST_F(Registry, HiveFilesFollowTheEnvironmentAtEachCall) {
    struct Case {
        const char* what;
        std::optional<std::string> state_home, home, config_dirs;
        RegistryRoot root;
        std::string expected;
    };
    const Case cases[] = {
        {"XDG_STATE_HOME", "/s", "/h", {}, hkcu, "/s/vellumo-setup/hkcu.sqlite3"},
        {"unset XDG_STATE_HOME", {}, "/h", {}, hkcu, "/h/.local/state/vellumo-setup/hkcu.sqlite3"},
        {"empty XDG_STATE_HOME", "", "/h", {}, hkcu, "/h/.local/state/vellumo-setup/hkcu.sqlite3"},
        {"relative XDG_STATE_HOME", "state", "/h", {}, hkcu,
         "/h/.local/state/vellumo-setup/hkcu.sqlite3"},
        {"no usable HOME", {}, "home", {}, hkcu, ""},
        {"first of XDG_CONFIG_DIRS", {}, {}, "/a:/b", hklm, "/a/vellumo-setup/hklm.sqlite3"},
        {"relative entries skipped", {}, {}, "a::/b", hklm, "/b/vellumo-setup/hklm.sqlite3"},
        {"unset XDG_CONFIG_DIRS", {}, {}, {}, hklm, "/etc/xdg/vellumo-setup/hklm.sqlite3"},
        {"empty XDG_CONFIG_DIRS", {}, {}, "", hklm, "/etc/xdg/vellumo-setup/hklm.sqlite3"},
    };
    const auto apply = [this](const char* name, const std::optional<std::string>& value) {
        if (value) env.set(name, *value);
        else env.unset(name);
    };
    for (const auto& c : cases) {
        apply("XDG_STATE_HOME", c.state_home);
        apply("HOME", c.home);
        apply("XDG_CONFIG_DIRS", c.config_dirs);
        EXPECT_EQ(store::hive_file(c.root).string(), c.expected) << c.what;
    }
}

TEST_F(Registry, FirstWriteCreatesThePrivateFolderAndLaterCallsFollowTheEnvironment) {
    ASSERT_FALSE(fs::exists(env.root() / "state"));
    reg_set_string(u"Software\\A", u"N", u"first");
    ASSERT_TRUE(fs::is_regular_file(env.root() / "state/vellumo-setup/hkcu.sqlite3"));
    struct stat info {};
    ASSERT_EQ(::stat((env.root() / "state/vellumo-setup").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    env.set("XDG_STATE_HOME", (env.root() / "other").string());
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\A", u"N"), u"");
    env.unset("XDG_STATE_HOME");
    reg_set_string(u"Software\\A", u"N", u"home");
    EXPECT_TRUE(fs::exists(env.home() / ".local/state/vellumo-setup/hkcu.sqlite3"));
    env.set("XDG_STATE_HOME", (env.root() / "state").string());
    EXPECT_EQ(reg_get_string(hkcu, u"Software\\A", u"N"), u"first");
}

TEST_F(Registry, WithoutAUsableHomeWritesFailAndReadsAreEmpty) {
    env.unset("XDG_STATE_HOME");
    env.unset("HOME");
    EXPECT_FALSE(put(hkcu, u"Software\\A", u"N", u"v"));
    EXPECT_EQ(get(hkcu, u"Software\\A", u"N"), (Read{false, u""}));
}

TEST_F(Registry, MachineHiveIsReadOnly) {
    EXPECT_FALSE(put(hklm, u"Software\\A", u"N", u"v"));
    EXPECT_FALSE(fs::exists(machine_file().parent_path())) << "a refused write creates nothing";
    EXPECT_FALSE(os().registry_key_exists(hklm, u"Software"));
    EXPECT_TRUE(enumerate(hklm, u"").empty());

    ASSERT_TRUE(write_registry_string(hklm, u"Software\\A\\B", u"N", u"machine"));
    EXPECT_FALSE(put(hklm, u"Software\\A\\B", u"N", u"changed"));
    EXPECT_FALSE(os().registry_delete_tree(hklm, u"Software\\A"));
    EXPECT_FALSE(os().registry_delete_key(hklm, u"Software\\A\\B"));
    EXPECT_EQ(reg_get_string(hklm, u"Software\\A\\B", u"N"), u"machine");
    EXPECT_EQ(enumerate(hklm, u"Software\\A"), std::vector<std::u16string>{u"B"});
    EXPECT_FALSE(os().registry_key_exists(hkcu, u"Software\\A")) << "the hives are apart";
}

// ---- Damaged, foreign and busy store files ----------------------------------------------

TEST_F(Registry, AFileThatIsNotTheStoreIsNeverWritten) {
    const auto foreign_database = [](const fs::path& file) {
        fs::create_directories(file.parent_path());
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE notes (text); INSERT INTO notes VALUES ('mine');", nullptr,
                     nullptr, nullptr);
        sqlite3_close(db);
    };
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> make;
    };
    const Case cases[] = {
        {"not a database",
         [](const fs::path& file) {
             std::string text;
             for (int i = 0; i < 200; ++i) text += "These bytes are precious, not SQLite.\n";
             write_file(file, text);
         }},
        {"someone else's database", foreign_database},
    };
    for (const auto& c : cases) {
        std::error_code ignored;
        fs::remove(user_file(), ignored);
        c.make(user_file());
        const std::string before = read_file(user_file());

        EXPECT_FALSE(put(hkcu, u"Software\\A", u"N", u"v")) << c.what;
        EXPECT_FALSE(test::create_registry_key(hkcu, u"Software\\B")) << c.what;
        reg_set_dword(u"Software\\A", u"D", 1);
        reg_delete_key_tree(u"Software");
        EXPECT_EQ(get(hkcu, u"Software\\A", u"N"), (Read{false, u""})) << c.what;
        EXPECT_FALSE(os().registry_key_exists(hkcu, u"Software")) << c.what;
        EXPECT_TRUE(enumerate(hkcu, u"").empty()) << c.what;

        EXPECT_EQ(read_file(user_file()), before) << c.what;
    }
}

TEST_F(Registry, ADirectoryWhereTheStoreMustGoFailsWrites) {
    fs::create_directories(user_file());
    EXPECT_FALSE(put(hkcu, u"Software\\A", u"N", u"v"));
    EXPECT_EQ(get(hkcu, u"Software\\A", u"N"), (Read{false, u""}));
    EXPECT_TRUE(fs::is_empty(user_file()));
}

TEST_F(Registry, ABusyStoreIsWaitedFor) {
    ASSERT_TRUE(put(hkcu, u"Software\\A", u"N", u"before"));

    std::mutex mutex;
    std::condition_variable changed;
    bool locked = false;
    std::thread holder([&] {
        sqlite3* db = nullptr;
        sqlite3_open(user_file().c_str(), &db);
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        {
            std::lock_guard lock(mutex);
            locked = true;
        }
        changed.notify_one();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return locked; });
    }
    EXPECT_TRUE(put(hkcu, u"Software\\A", u"N", u"after"));
    holder.join();
    EXPECT_EQ(get(hkcu, u"Software\\A", u"N"), (Read{true, u"after"}));
}

// ---- A store that another process holds in a long write transaction -----------------

// SQLite's default VFS while it lives: the real one, except that a sleep,
// which only a busy wait takes, is counted and returns at once.
class CountedSleeps {
public:
    CountedSleeps() : real_(sqlite3_vfs_find(nullptr)), counted_(*real_) {
        counted_.zName = "counted-sleeps";
        counted_.xSleep = [](sqlite3_vfs*, int microseconds) {
            ++slept;
            return microseconds;
        };
        sqlite3_vfs_register(&counted_, 1);
    }
    ~CountedSleeps() {
        sqlite3_vfs_unregister(&counted_);
        sqlite3_vfs_register(real_, 1);
    }
    CountedSleeps(const CountedSleeps&) = delete;
    CountedSleeps& operator=(const CountedSleeps&) = delete;

    static inline std::atomic<int> slept{0};

private:
    sqlite3_vfs* real_;
    sqlite3_vfs counted_;
};

// The real registry writes, counting those that waited for the store.
struct WaitCounter : platform::System {
    int waits = 0;

    bool counted(const std::function<bool()>& write) {
        const int before = CountedSleeps::slept;
        const bool done = write();
        if (CountedSleeps::slept != before) ++waits;
        return done;
    }
    bool registry_set_value(RegistryRoot root, std::u16string_view key, std::u16string_view name,
                            RegistryType type, std::span<const std::uint8_t> data) override {
        return counted([&] { return System::registry_set_value(root, key, name, type, data); });
    }
    bool registry_delete_tree(RegistryRoot root, std::u16string_view key) override {
        return counted([&] { return System::registry_delete_tree(root, key); });
    }
    bool registry_delete_key(RegistryRoot root, std::u16string_view key) override {
        return counted([&] { return System::registry_delete_key(root, key); });
    }
};

// A connection of its own holding the store in a write transaction, as
// another process would.
class StoreHolder {
public:
    explicit StoreHolder(const fs::path& file) {
        sqlite3_open(file.c_str(), &db_);
        held_ = sqlite3_exec(db_, "BEGIN IMMEDIATE; DELETE FROM key_values WHERE 0", nullptr,
                             nullptr, nullptr) == SQLITE_OK;
    }
    ~StoreHolder() {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }
    StoreHolder(const StoreHolder&) = delete;
    StoreHolder& operator=(const StoreHolder&) = delete;
    bool held() const { return held_; }

private:
    sqlite3* db_ = nullptr;
    bool held_ = false;
};

class HeldStore : public test::SandboxTest {};

// A job's registry work is many writes: the Uninstall entry's delete and its
// eleven values, the uninstall's delete. While another process holds the
// store, the job waits for it once; a later job waits again only once a
// write has got through in between. The install's outcome never depends on
// the registry.
TEST_F(HeldStore, AJobWaitsForItOnceAndAgainOnlyAfterAWriteGotThrough) {
    const CountedSleeps sleeps;
    WaitCounter counter;
    const platform::ScopedSystem use{counter};
    ASSERT_TRUE(write_registry_string(hkcu, u"Software\\Other", u"N", u"v"));  // the store exists
    const auto install = [] {
        const JobResult result = run_install([](int, const std::string&) {});
        EXPECT_TRUE(result.ok) << result.error;
    };
    const auto uninstall_delete = [] { reg_delete_key_tree(uninstall_key_path()); };

    struct Stage {
        const char* what;
        bool held;
        std::function<void()> job;
        int waits;
        bool entry_after;
    };
    const Stage stages[] = {
        {"install while the store is held", true, install, 1, false},
        {"install once it is let go", false, install, 0, true},
        {"the uninstall's delete while it is held again", true, uninstall_delete, 1, true},
        {"the uninstall's delete once it is let go", false, uninstall_delete, 0, false},
    };
    for (const Stage& stage : stages) {
        SCOPED_TRACE(stage.what);
        std::optional<StoreHolder> holder;
        if (stage.held) {
            holder.emplace(store::hive_file(hkcu));
            ASSERT_TRUE(holder->held());
        }
        counter.waits = 0;
        stage.job();
        EXPECT_EQ(counter.waits, stage.waits);
        holder.reset();
        EXPECT_EQ(os().registry_key_exists(hkcu, sandbox_uninstall_key()), stage.entry_after);
    }
}

}  // namespace
}  // namespace vellumo
