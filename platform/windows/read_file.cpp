// Reading a file on Windows, only when it is a file on disk: a reparse point
// is opened as itself and refused, never followed, and a pipe or device is
// nothing of ours.
#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

#include <memory>
#include <type_traits>

namespace vellumo::platform {
namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OpenFile = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

bool is_plain_disk_file(HANDLE file) {
    if (GetFileType(file) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return false;
    return !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

}  // namespace

std::optional<std::string> System::read_regular_file(const std::filesystem::path& path,
                                                     std::size_t limit) {
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open at all.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                                      nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    const OpenFile file(handle);
    if (!is_plain_disk_file(file.get())) return std::nullopt;
    std::string bytes;
    char chunk[16 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) return std::nullopt;
        if (got == 0) return bytes;
        if (bytes.size() + got > limit) return std::nullopt;
        bytes.append(chunk, got);
    }
}

}  // namespace vellumo::platform
