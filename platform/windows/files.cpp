// File moves, links, new files, tree removal and the tick count on Windows. A
// link is any reparse point (a symbolic link or a junction). A new file is
// made with CREATE_NEW and FILE_FLAG_OPEN_REPARSE_POINT, so nothing planted
// at its name, a link least of all, is ever written through, and is flushed
// with FlushFileBuffers before it is closed: MOVEFILE_WRITE_THROUGH makes the
// move durable, not the file's data. A tree is removed from the attributes
// its listing gives: a reparse point is never descended into; RemoveDirectoryW
// and DeleteFileW take the link itself away, not its target. Windows removes
// no read-only file or folder, so the removal clears that attribute first, on
// a handle of the entry itself, and puts it back on what still stays.
#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

namespace vellumo::platform {
namespace {

namespace fs = std::filesystem;

// Closes a handle when it goes out of scope.
class File {
public:
    explicit File(HANDLE handle) : handle_(handle) {}
    ~File() { close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool close() {
        if (!valid()) return true;
        const bool closed = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

HANDLE create_new(const fs::path& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Writes all of `size` bytes; WriteFile counts in 32 bits.
bool write_all(HANDLE file, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data, piece, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Flushes and closes a file being written and keeps it only when everything
// went in and reached the disk.
NewFile finish_new(File& file, bool written, const fs::path& path) {
    const bool flushed = written && FlushFileBuffers(file.get()) != 0;
    const bool closed = file.close();
    if (flushed && closed) return NewFile::written;
    DeleteFileW(path.c_str());
    return NewFile::not_written;
}

bool remove_entry(const fs::path& path, DWORD attributes);

// Sets or clears the read-only attribute of the entry at `path` that the
// listing showed with `attributes`. The entry is opened as it stands, a link
// as a link; whatever has taken its place since (a link where a folder was)
// is left alone.
bool set_read_only(const fs::path& path, DWORD attributes, bool read_only) {
    File entry(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr));
    FILE_BASIC_INFO info{};
    if (!entry.valid() ||
        !GetFileInformationByHandleEx(entry.get(), FileBasicInfo, &info, sizeof info))
        return false;
    constexpr DWORD kind = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((info.FileAttributes & kind) != (attributes & kind)) return false;
    if (read_only)
        info.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    else
        info.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    info.CreationTime = info.LastAccessTime = info.LastWriteTime = info.ChangeTime = {};  // kept
    return SetFileInformationByHandle(entry.get(), FileBasicInfo, &info, sizeof info) != 0;
}

// Removes everything in `folder`, going on past what it cannot remove.
void empty_folder(const fs::path& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") remove_entry(folder / name, found.dwFileAttributes);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Removes the entry at `path`, whose attributes are `attributes`: a folder
// that is no reparse point is emptied first; a reparse point is removed as it
// stands, without looking inside.
bool remove_entry(const fs::path& path, DWORD attributes) {
    const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    const bool cleared =
        (attributes & FILE_ATTRIBUTE_READONLY) && set_read_only(path, attributes, false);
    if (folder && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) empty_folder(path);
    const bool removed =
        folder ? RemoveDirectoryW(path.c_str()) != 0 : DeleteFileW(path.c_str()) != 0;
    if (cleared && !removed) set_read_only(path, attributes, true);
    return removed;
}

}  // namespace

bool System::remove_tree(const fs::path& path) {
    if (!path.has_filename()) return false;
    // The path's own attributes: GetFileAttributesW does not follow a link.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return remove_entry(path, attributes);
}

bool System::move_file_replacing(const fs::path& from, const fs::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool System::move_file_no_overwrite(const fs::path& from, const fs::path& to,
                                    bool write_through) {
    return MoveFileExW(from.c_str(), to.c_str(), write_through ? MOVEFILE_WRITE_THROUGH : 0) != 0;
}

std::uint64_t System::tick_count_ms() { return GetTickCount64(); }

bool System::is_link(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

FileRemoval System::remove_file(const fs::path& path) {
    if (DeleteFileW(path.c_str())) return FileRemoval::removed;
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return FileRemoval::absent;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return FileRemoval::in_use;
    case ERROR_ACCESS_DENIED: {
        // What a running program's file gives too; a folder or a read-only
        // file gives it for good.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        const DWORD lasting = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
        if (attributes == INVALID_FILE_ATTRIBUTES) return FileRemoval::absent;  // gone meanwhile
        return attributes & lasting ? FileRemoval::refused : FileRemoval::in_use;
    }
    default:
        return FileRemoval::refused;
    }
}

NewFile System::write_new_file(const fs::path& path, std::span<const std::uint8_t> bytes) {
    File file(create_new(path));
    if (!file.valid()) return NewFile::not_created;
    return finish_new(file, write_all(file.get(), bytes.data(), bytes.size()), path);
}

NewFile System::copy_to_new_file(const fs::path& source, const fs::path& path) {
    // The running program is open for reading and mapped: share both.
    File in(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in.valid()) return NewFile::not_written;
    File file(create_new(path));
    if (!file.valid()) return NewFile::not_created;
    std::vector<std::uint8_t> buffer(1 << 16);
    bool written = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            written = false;
            break;
        }
        if (got == 0) break;
        if (!write_all(file.get(), buffer.data(), got)) {
            written = false;
            break;
        }
    }
    in.close();
    return finish_new(file, written, path);
}

}  // namespace vellumo::platform
