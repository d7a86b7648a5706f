// The platform's lookups under Wine: resources, the executable's path, hashing
// and decompression through the DLLs loaded from system32, the tick count,
// known folders, the environment and command lines.
#include "windows/wine_world.hpp"  // windows.h first

#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using platform::os;
using test::u16;

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

TEST(Resources, PageAndPackAreTheBuildsAndOtherIdsAreEmpty) {
    EXPECT_TRUE(os().rcdata_resource(101) == test::read_bytes(test::windows_path(VELLUMO_PAGE_FILE)));
    EXPECT_TRUE(os().rcdata_resource(102) == test::read_bytes(test::windows_path(VELLUMO_STORED_PACK)));
    for (const unsigned id : {0u, 1u, 100u, 103u}) EXPECT_EQ(os().rcdata_resource(id), "") << id;
}

TEST(ExecutablePath, IsTheRunningProgram) {
    const fs::path exe = os().executable_path();
    EXPECT_TRUE(exe.is_absolute());
    EXPECT_EQ(exe.filename(), L"windows_platform_tests.exe");
    EXPECT_TRUE(fs::equivalent(exe, test::windows_path(TEST_HELPER_PATH).parent_path() /
                                        L"windows_platform_tests.exe"));
}

TEST(Sha256, OfKnownTexts) {
    const struct {
        std::string text;
        const char* hex;
    } cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    };
    for (const auto& c : cases) {
        platform::Sha256Digest digest{};
        const auto data = bytes_of(c.text);
        ASSERT_TRUE(os().sha256(data.data(), data.size(), digest));
        std::string hex;
        for (const auto byte : digest) {
            static const char digits[] = "0123456789abcdef";
            hex += digits[byte >> 4];
            hex += digits[byte & 15];
        }
        EXPECT_EQ(hex, c.hex) << c.text;
    }
}

// A container of one chunk of `data`, which holds `total` bytes unpacked:
// stored when the two sizes are equal, compressed otherwise.
std::vector<std::uint8_t> container(const std::string& data, std::uint32_t total) {
    std::vector<std::uint8_t> c{0x0A, 0x51, 0xE5, 0xC0, 24, 0, 0, 5};
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) c.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put32(total);
    put32(0);
    put32(total);
    put32(0);
    std::uint32_t crc = 0xFFFFFFFF;  // zlib's CRC-32 of bytes 0..5 and 7..23
    for (std::size_t i = 0; i < 24; ++i) {
        if (i == 6) continue;
        crc ^= c[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    c[6] = static_cast<std::uint8_t>(~crc);
    put32(static_cast<std::uint32_t>(data.size()));
    c.insert(c.end(), data.begin(), data.end());
    return c;
}

// The decompressor is the test prefix's system32\cabinet.dll, our stand-in:
// stored chunks come out whole, a compressed one fails and is never taken
// for bytes.
TEST(Decompression, GoesThroughSystemCabinetDll) {
    const std::string data = "stored chunk \x01\x02\x03";
    const auto stored = container(data, static_cast<std::uint32_t>(data.size()));
    std::string out(data.size(), '\0');
    std::size_t written = 0;
    ASSERT_TRUE(os().lzms_decompress(stored.data(), stored.size(),
                                     reinterpret_cast<std::uint8_t*>(out.data()), out.size(),
                                     written));
    EXPECT_EQ(written, data.size());
    EXPECT_EQ(out, data);

    const auto compressed = container(data, 100);
    std::string unpacked(100, '\0');
    EXPECT_FALSE(os().lzms_decompress(compressed.data(), compressed.size(),
                                      reinterpret_cast<std::uint8_t*>(unpacked.data()),
                                      unpacked.size(), written));

    // What system32 holds is the stand-in, and Wine loads it from there.
    const HMODULE cabinet = LoadLibraryExW(L"cabinet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_NE(cabinet, nullptr);
    wchar_t loaded[MAX_PATH];
    const DWORD length = GetModuleFileNameW(cabinet, loaded, MAX_PATH);
    FreeLibrary(cabinet);
    ASSERT_GT(length, 0u);
    EXPECT_TRUE(fs::equivalent(loaded, L"C:\\windows\\system32\\cabinet.dll"));
    EXPECT_TRUE(test::holds(loaded, test::read_bytes(test::windows_path(CABINET_STANDIN_PATH))));
}

TEST(TickCount, IsTheSystemsMillisecondsAndNeverGoesBack) {
    const std::uint64_t before = GetTickCount64();
    const std::uint64_t first = os().tick_count_ms();
    Sleep(50);
    const std::uint64_t second = os().tick_count_ms();
    const std::uint64_t after = GetTickCount64();
    EXPECT_LE(before, first);
    EXPECT_LT(first, second);
    EXPECT_LE(second, after);
}

// KF_FLAG_CREATE: a known folder that does not exist yet is made. Wine takes
// the folder from the per-user shell folder key, which points it into the
// test's own folder here.
TEST(KnownFolders, AreCreatedOnDemand) {
    const wchar_t* shell_folders =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    const auto saved = test::read_value(HKEY_CURRENT_USER, shell_folders, L"Programs");
    const fs::path programs = test::fresh_folder() / L"not yet" / L"Programs";
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, shell_folders, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    const std::string data = test::string_value_bytes(programs.wstring());
    RegSetValueExW(key, L"Programs", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size()));

    const fs::path got = os().known_folder_path(platform::KnownFolder::Programs);

    if (saved)
        RegSetValueExW(key, L"Programs", 0, saved->type,
                       reinterpret_cast<const BYTE*>(saved->bytes.data()),
                       static_cast<DWORD>(saved->bytes.size()));
    else
        RegDeleteValueW(key, L"Programs");
    RegCloseKey(key);

    EXPECT_TRUE(fs::equivalent(got, programs));
    EXPECT_TRUE(fs::is_directory(programs));

    for (const auto folder : {platform::KnownFolder::LocalAppData,
                              platform::KnownFolder::RoamingAppData}) {
        const fs::path path = os().known_folder_path(folder);
        EXPECT_TRUE(path.is_absolute());
        EXPECT_TRUE(fs::is_directory(path));
    }
    EXPECT_NE(os().known_folder_path(platform::KnownFolder::LocalAppData),
              os().known_folder_path(platform::KnownFolder::RoamingAppData));
}

TEST(Environment, VariablesAndPathsAreTheValuesUnchanged) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELLUMO_WINE_TEST", L"Z:\\tmp\\J\u00f6rg"));
    EXPECT_EQ(os().environment_variable(u"VELLUMO_WINE_TEST"), u"Z:\\tmp\\J\u00f6rg");
    EXPECT_EQ(os().environment_variable(u"vellumo_wine_test"), u"Z:\\tmp\\J\u00f6rg");
    EXPECT_EQ(os().environment_path(u"VELLUMO_WINE_TEST"), fs::path(L"Z:\\tmp\\J\u00f6rg"));

    ASSERT_TRUE(SetEnvironmentVariableW(L"VELLUMO_WINE_TEST", L""));
    EXPECT_EQ(os().environment_path(u"VELLUMO_WINE_TEST"), fs::path());
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELLUMO_WINE_TEST", nullptr));
    EXPECT_EQ(os().environment_variable(u"VELLUMO_WINE_TEST"), std::nullopt);
    EXPECT_EQ(os().environment_path(u"VELLUMO_WINE_TEST"), fs::path());
}

TEST(TemporaryFolder, IsTheTemporaryPath) {
    const fs::path folder = test::fresh_folder();
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", folder.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TEMP", folder.c_str()));
    EXPECT_TRUE(fs::equivalent(os().temporary_folder(), folder));
}

// The shared splitter, which the Linux build uses, against Wine's own
// CommandLineToArgvW.
TEST(CommandLines, SplitAsCommandLineToArgvWDoes) {
    const std::wstring lines[] = {
        LR"(setup.exe --uninstall --silent)",
        LR"("C:\Program Files\setup.exe" --check)",
        LR"("C:\a b\setup.exe"--check x)",
        LR"(C:\a\"b c"\setup.exe x)",
        LR"(p "a b" c)",
        LR"(p a\\b a\"b a\\\"b a\\\\"b c")",
        LR"(p "a""b" """" "")",
        LR"(p "ab\\" c)",
        L"p\ta\t\t b  ",
        LR"(p "unterminated \" quote)",
        LR"(p --uninstall=1 --Silent -check)",
    };
    for (const auto& line : lines) {
        int count = 0;
        wchar_t** argv = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(argv, nullptr);
        std::vector<std::u16string> expected;
        for (int i = 0; i < count; ++i) expected.push_back(u16(argv[i]));
        LocalFree(argv);
        EXPECT_EQ(platform::split_command_line(u16(line)), expected) << std::string(line.begin(), line.end());
    }
}

TEST(CommandLines, TheProcessArgumentsStartWithTheProgram) {
    const auto arguments = os().command_line_arguments();
    ASSERT_FALSE(arguments.empty());
    EXPECT_EQ(fs::path(test::wide(arguments.front())).filename(), L"windows_platform_tests.exe");
}

}  // namespace
}  // namespace vellumo
