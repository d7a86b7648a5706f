// bench-floor: the least work that reading a payload pack takes, for bench/run
// to set the program's figures against. One thread: each entry's chunks are
// decoded by wimlib straight into one buffer, and the buffer is hashed with
// SHA-256 and compared with the entry's digest. Given a folder, each entry is
// also written there and synced, and a copy of EXE as uninstall.exe, the bytes
// a silent install writes.
//
//   bench-floor PACK [FOLDER [EXE]]
//
// Exit code 0, or 1 with a message when the pack is malformed, a digest
// differs or a write fails.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <wimlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/lzms_container.hpp"

namespace {

namespace fmt = vellumo::lzms_container;

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Fd {
    int fd;
    explicit Fd(int value) : fd(value) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

int open_or_fail(const std::string& path, int flags, mode_t mode = 0) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0) throw Failure("cannot open " + path + ": " + std::strerror(errno));
    return fd;
}

std::vector<std::uint8_t> read_whole(const std::string& path) {
    const Fd in(open_or_fail(path, O_RDONLY));
    struct stat info {};
    if (::fstat(in.fd, &info) != 0) throw Failure("cannot read " + path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(in.fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw Failure("cannot read " + path);
        done += static_cast<std::size_t>(got);
    }
    return bytes;
}

void write_all(int fd, const std::uint8_t* data, std::size_t size, const std::string& path) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) throw Failure("cannot write " + path);
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void sync_or_fail(int fd, const std::string& path) {
    if (::fsync(fd) != 0) throw Failure("cannot sync " + path);
}

void write_synced(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const Fd out(open_or_fail(path, O_WRONLY | O_CREAT | O_TRUNC, 0644));
    write_all(out.fd, data, size, path);
    sync_or_fail(out.fd, path);
}

void copy_synced(const std::string& from, const std::string& to) {
    const Fd in(open_or_fail(from, O_RDONLY));
    const Fd out(open_or_fail(to, O_WRONLY | O_CREAT | O_TRUNC, 0755));
    for (;;) {
        const ssize_t sent = ::sendfile(out.fd, in.fd, nullptr, 1 << 30);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0) throw Failure("cannot copy " + from + " to " + to);
        if (sent == 0) break;
    }
    sync_or_fail(out.fd, to);
}

// Decodes one Compression API LZMS buffer into `out`, which holds exactly its
// total size.
void decode(const std::uint8_t* in, std::size_t in_size, std::uint8_t* out, std::uint64_t total) {
    if (in_size < fmt::header_size || fmt::get_u32(in) != fmt::magic ||
        fmt::get_u64(in + 8) != total)
        throw Failure("an entry's stored bytes are not an LZMS buffer of its size");
    if (total == 0) return;
    const std::uint32_t chunk_size = fmt::get_u32(in + 16);
    if (chunk_size == 0 || chunk_size > fmt::max_chunk_size) throw Failure("bad chunk size");

    wimlib_decompressor* decompressor = nullptr;
    if (wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, chunk_size, &decompressor) != 0)
        throw Failure("cannot make an LZMS decompressor");
    const std::unique_ptr<wimlib_decompressor, void (*)(wimlib_decompressor*)> owner(
        decompressor, wimlib_free_decompressor);

    std::size_t pos = fmt::header_size;
    for (std::uint64_t produced = 0; produced < total;) {
        const std::size_t length = static_cast<std::size_t>(
            total - produced < chunk_size ? total - produced : chunk_size);
        if (in_size - pos < fmt::chunk_prefix_size) throw Failure("a chunk is cut short");
        const std::size_t stored = fmt::get_u32(in + pos);
        pos += fmt::chunk_prefix_size;
        if (stored == 0 || stored > length || in_size - pos < stored)
            throw Failure("a chunk is cut short");
        if (stored == length)
            std::memcpy(out + produced, in + pos, stored);
        else if (wimlib_decompress(in + pos, stored, out + produced, length, decompressor) != 0)
            throw Failure("a chunk does not decode");
        pos += stored;
        produced += length;
    }
}

void run(const std::string& pack_path, const char* folder, const char* exe) {
    const std::vector<std::uint8_t> pack = read_whole(pack_path);
    const std::uint8_t* bytes = pack.data();
    const std::uint64_t size = pack.size();
    if (size < 12 || std::memcmp(bytes, "VPAK", 4) != 0) throw Failure(pack_path + " is no pack");

    const std::uint64_t count = fmt::get_u32(bytes + 8);
    std::uint64_t o = 12;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (size - o < 2) throw Failure("the pack is cut short");
        const std::uint64_t n = fmt::get_u16(bytes + o);
        if (size - o - 2 < n + 48) throw Failure("the pack is cut short");
        const std::string name(reinterpret_cast<const char*>(bytes + o + 2), n);
        const std::uint64_t unpacked = fmt::get_u64(bytes + o + 2 + n);
        const std::uint64_t stored = fmt::get_u64(bytes + o + 10 + n);
        const std::uint8_t* digest = bytes + o + 18 + n;
        o += 50 + n;
        if (stored > size - o || unpacked > 0x20000000 || name.find('/') != std::string::npos)
            throw Failure("the entry " + name + " is malformed");

        // Not zero-filled: the decoder writes every byte.
        const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(unpacked);
        decode(bytes + o, static_cast<std::size_t>(stored), buffer.get(), unpacked);
        unsigned char computed[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_Digest(buffer.get(), unpacked, computed, &length, EVP_sha256(), nullptr) != 1 ||
            length != 32 || std::memcmp(computed, digest, 32) != 0)
            throw Failure("the digest of " + name + " differs");
        if (folder) write_synced(std::string(folder) + "/" + name, buffer.get(), unpacked);
        o += stored;
    }
    if (o != size) throw Failure("bytes follow the last entry");

    if (!folder) return;
    if (exe) copy_synced(exe, std::string(folder) + "/uninstall.exe");
    const Fd dir(open_or_fail(folder, O_RDONLY | O_DIRECTORY));
    sync_or_fail(dir.fd, folder);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: bench-floor PACK [FOLDER [EXE]]\n");
        return 2;
    }
    try {
        run(argv[1], argc > 2 ? argv[2] : nullptr, argc > 3 ? argv[3] : nullptr);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "bench-floor: %s\n", failure.what());
        return 1;
    }
    return 0;
}
