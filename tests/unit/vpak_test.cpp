// vpak and the pack reader agree: packs written by the producer load back
// byte for byte; inputs the reader would refuse are refused by the producer.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "engine/payload.hpp"
#include "engine/product_info.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;

struct FileSystem : platform::System {
    std::string pack;
    std::string rcdata_resource(unsigned id) override { return id == 102 ? pack : std::string(); }
};

class Vpak : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("vpak-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "in");
        payload_files.clear();
    }
    void TearDown() override {
        payload_files.clear();
        fs::remove_all(dir);
    }

    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / "in" / name, std::ios::binary) << bytes;
    }

    // Runs vpak; returns its exit status and leaves its standard error in `err`.
    int vpak(const std::string& names) {
        const std::string command = std::string("'") + VPAK_PATH + "' '" +
                                    (dir / "out.vpak").string() + "' '" + (dir / "in").string() +
                                    "' " + names + " 2>'" + (dir / "err").string() + "'";
        const int status = std::system(command.c_str());
        std::ifstream in(dir / "err");
        err.assign((std::istreambuf_iterator<char>(in)), {});
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string pack() {
        std::ifstream in(dir / "out.vpak", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

    // Packs the three product files and loads them back through load_payload.
    void round_trip(const std::string& companion, const std::string& script,
                    const std::string& guide) {
        write("VellumoCompanion.exe", companion);
        write("Vellumo.py", script);
        write("SETUP.md", guide);
        ASSERT_EQ(vpak("VellumoCompanion.exe Vellumo.py SETUP.md"), 0) << err;
        FileSystem system;
        system.pack = pack();
        platform::ScopedSystem use(system);
        std::string error;
        ASSERT_TRUE(load_payload(error));
        const auto text = [](const std::vector<std::uint8_t>& b) {
            return std::string(b.begin(), b.end());
        };
        EXPECT_TRUE(text(payload_files.at("VellumoCompanion.exe")) == companion);
        EXPECT_TRUE(text(payload_files.at("Vellumo.py")) == script);
        EXPECT_TRUE(text(payload_files.at("SETUP.md")) == guide);
    }

    fs::path dir;
    std::string err;
};

std::string random_bytes(std::size_t n) {
    std::mt19937_64 random(42);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(random());
    return out;
}

TEST_F(Vpak, RoundTripsEmptyTinyAndTextFiles) { round_trip("", "x", std::string(5000, 'a') + "end"); }

TEST_F(Vpak, IncompressibleBytesAreStoredVerbatim) {
    const std::string noise = random_bytes(4096);
    round_trip(noise, "x", "y");
    // Stored chunk: header, u32 size equal to the raw size, then the raw bytes.
    const std::string p = pack();
    EXPECT_NE(p.find(noise), std::string::npos);
}

TEST_F(Vpak, FilesOverSixtyFourMebibytesSpanSeveralChunks) {
    std::string big((64u << 20) + 4099, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7) % 251);
    round_trip(big, "x", "y");
}

TEST_F(Vpak, SameInputSameBytes) {
    write("VellumoCompanion.exe", random_bytes(300) + std::string(3000, 'z'));
    write("Vellumo.py", "print()\n");
    write("SETUP.md", "# Setup\n");
    ASSERT_EQ(vpak("VellumoCompanion.exe Vellumo.py SETUP.md"), 0) << err;
    const std::string first = pack();
    ASSERT_EQ(vpak("VellumoCompanion.exe Vellumo.py SETUP.md"), 0) << err;
    EXPECT_EQ(pack(), first);
}

TEST_F(Vpak, RefusesWhatTheReaderWouldRefuse) {
    write("a", "1");
    write("bad:name", "1");
    write(std::string(201, 'n'), "1");
    {
        std::ofstream(dir / "in" / "huge", std::ios::binary);
        fs::resize_file(dir / "in" / "huge", 0x20000001);  // sparse: costs no disk
    }
    std::string many;
    for (int i = 0; i < 65; ++i) many += "a ";
    struct Case {
        const char* what;
        std::string names;
        const char* message;
    };
    const Case cases[] = {
        {"missing file", "a missing", "is not a file"},
        {"duplicate name", "a a", "repeated"},
        {"bad name byte", "'bad:name'", "may hold only"},
        {"name too long", std::string(201, 'n'), "1 to 200 bytes"},
        {"65 entries", many, "1 to 64 entries"},
        {"file over 512 MiB", "a huge", "larger than 512 MiB"},
    };
    for (const auto& c : cases) {
        fs::remove(dir / "out.vpak");
        EXPECT_NE(vpak(c.names), 0) << c.what;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.what << ": " << err;
        EXPECT_FALSE(fs::exists(dir / "out.vpak")) << c.what;
    }
}

}  // namespace
}  // namespace vellumo
