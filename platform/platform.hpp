// The operating-system seam: every OS operation that engine/ and app/ use.
// linux/ implements it on Linux; a Windows implementation drops in beside it.
// Signatures carry no OS type. Tests replace single operations through
// ScopedSystem where the machine cannot produce a failure for real.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumo::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The two registry hives the setup uses.
enum class RegistryRoot { current_user, local_machine };
// Registry value types, with the registry's own numbers.
enum class RegistryType : std::uint32_t { string = 1, dword = 4 };
// The known folders the setup uses, named as Windows names them.
enum class KnownFolder { LocalAppData, RoamingAppData, Programs };
// What creating the single-instance mutex gave: the mutex, owned; a mutex
// that another process had already created; or none at all.
enum class InstanceMutex { created, already_exists, unavailable };
// What writing a new file came to: written; not created (something, a link
// included, is already at its name, or the folder cannot take it); or not
// written (a write, the flush to the disk or the close failed; the partial
// file has been removed).
enum class NewFile { written, not_created, not_written };
// What deleting a file came to: deleted; nothing was there; still in use by
// another process (a program that is running, a reader that does not share
// deletion), which may pass; or refused for good.
enum class FileRemoval { removed, absent, in_use, refused };
// What waiting for another process came to: it ended, it still runs at the
// limit, or no process of that id runs that program.
enum class ProcessWait { ended, timed_out, not_running };

// A folder held open for a sequence of steps on its files. On Linux its
// descriptor: the folder was opened once and checked on that handle, and every
// later step goes through it, never again by the folder's name, which another
// user may have changed meanwhile. Windows holds nothing and uses the path:
// the user's temporary folder is private by its access rules. `path` names
// the folder for command lines; empty when there is none.
class HeldFolder {
public:
    HeldFolder() = default;
    // Takes `handle` (-1 for none), which the destructor closes.
    HeldFolder(std::filesystem::path path, int handle) noexcept
        : path_(std::move(path)), handle_(handle) {}
    HeldFolder(HeldFolder&& other) noexcept
        : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, -1)) {}
    HeldFolder& operator=(HeldFolder&& other) noexcept {
        std::swap(path_, other.path_);
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~HeldFolder();

    const std::filesystem::path& path() const { return path_; }
    int handle() const { return handle_; }
    bool empty() const { return path_.empty(); }

private:
    std::filesystem::path path_;
    int handle_ = -1;
};

// A rectangle in screen coordinates.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// What a locked-down web view asks before it acts on a request.
enum class WebRequest { navigation, frame_navigation, new_window, permission };
// True lets the request go on. `uri` is the target; empty for a permission.
using WebRequestRule = bool (*)(WebRequest request, std::string_view uri) noexcept;

// Text transcoding and path text. Plain functions: they never fail and have
// nothing to replace in a test.
std::string utf16_to_utf8(std::u16string_view text);   // invalid -> U+FFFD
std::u16string utf8_to_utf16(std::string_view text);   // invalid -> U+FFFD
std::u16string path_to_wide(const std::filesystem::path& path);
std::filesystem::path path_from_wide(std::u16string_view text);

// The content of a text file holding `text`: each "\n" as a text-mode stream
// writes it, "\r\n" on Windows.
std::string text_file_content(std::string_view text);

// Splits a command line into arguments by the rules of CommandLineToArgvW:
// the first argument (the program) ends at the next space or tab, or, when it
// starts with a double quote, at the next double quote, with no escapes; in
// the others 2n backslashes before a double quote give n backslashes and the
// quote opens or closes a quoted part, 2n+1 give n backslashes and a literal
// quote, and a quote right after the one that closed a quoted part is
// literal. The text ends at its first null unit; an empty text gives no
// arguments (CommandLineToArgvW would return the running program).
std::vector<std::u16string> split_command_line(std::u16string_view command_line);

// The Program Files folder to use when "ProgramW6432" is not set.
std::u16string program_files_fallback();

// The operations that can fail. Each is virtual so that a test can derive
// from System, override one operation and install the result with
// ScopedSystem; the base class is the real implementation.
class System {
public:
    virtual ~System() = default;

    // ---- Executable and its resources --------------------------------------

    // Bytes of the raw-data resource `id`; empty when there is none.
    virtual std::string rcdata_resource(unsigned id);
    // Full path of the running executable; empty on failure.
    virtual std::filesystem::path executable_path();

    // ---- Compression and hashing -------------------------------------------

    // Decompresses one Compression API LZMS buffer into `out` (capacity
    // `out_size`). True on success, with the number of bytes produced.
    virtual bool lzms_decompress(const std::uint8_t* in, std::size_t in_size,
                                 std::uint8_t* out, std::size_t out_size,
                                 std::size_t& written);
    // SHA-256 of a byte range; false when the hash call fails.
    virtual bool sha256(const std::uint8_t* data, std::size_t size, Sha256Digest& digest);

    // ---- Registry -----------------------------------------------------------
    // Key paths are relative to the root, components separated by '\', with no
    // leading backslash; the empty path is the root itself. Key and value
    // names compare without regard to letter case and keep the case they were
    // created with. An empty value name is the key's default value.

    // Opens `key`, creating it and any missing parent, and sets one value of
    // `type` to `data`. False when the key cannot be opened or created.
    virtual bool registry_set_value(RegistryRoot root, std::u16string_view key,
                                    std::u16string_view name, RegistryType type,
                                    std::span<const std::uint8_t> data);
    // Removes the values and every sub-key of `key` (RegDeleteTreeW).
    virtual bool registry_delete_tree(RegistryRoot root, std::u16string_view key);
    // Removes `key` itself when it has no sub-keys left (RegDeleteKeyW).
    virtual bool registry_delete_key(RegistryRoot root, std::u16string_view key);
    // Reads a string value through a buffer of `buffer_bytes` bytes, as
    // RegGetValueW restricted to REG_SZ does: false for a missing key or
    // value, a value of another type, or a text (with its terminator) that
    // does not fit. `value` is the text up to its first null unit.
    virtual bool registry_get_string(RegistryRoot root, std::u16string_view key,
                                     std::u16string_view name, std::size_t buffer_bytes,
                                     std::u16string& value);
    // Whether `key` can be opened for reading (RegOpenKeyExW).
    virtual bool registry_key_exists(RegistryRoot root, std::u16string_view key);
    // The name of sub-key `index` of `key` in the registry's stable order, as
    // RegEnumKeyExW with a name buffer of `name_capacity` units (the
    // terminator included). False when there is no such sub-key, the name does
    // not fit, or the key cannot be read.
    virtual bool registry_enum_subkey(RegistryRoot root, std::u16string_view key,
                                      std::uint32_t index, std::size_t name_capacity,
                                      std::u16string& name);

    // ---- Known folders and environment --------------------------------------

    // Full path of a known folder, created first when it does not exist yet
    // (SHGetKnownFolderPath with KF_FLAG_CREATE). Empty when it cannot be
    // resolved or created.
    virtual std::filesystem::path known_folder_path(KnownFolder folder);

    // The value of environment variable `name`; nullopt when it is not set.
    virtual std::optional<std::u16string> environment_variable(std::u16string_view name);

    // ---- Files ---------------------------------------------------------------

    // Moves `from` to `to` in one step, replacing an existing `to`, and
    // returns once the move is on disk (MoveFileExW with
    // MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
    virtual bool move_file_replacing(const std::filesystem::path& from,
                                     const std::filesystem::path& to);
    // Moves `from` to `to`, failing when `to` exists (MoveFileExW without
    // MOVEFILE_REPLACE_EXISTING); with `write_through`, returns once the move
    // is on disk.
    virtual bool move_file_no_overwrite(const std::filesystem::path& from,
                                        const std::filesystem::path& to, bool write_through);
    // Milliseconds since the system started (GetTickCount64).
    virtual std::uint64_t tick_count_ms();
    // Whether `path` itself is a link: a symbolic link, and on Windows any
    // reparse point (a junction included). Never follows one; false when
    // nothing is there. The only link test the program makes: MinGW's
    // std::filesystem cannot see links.
    virtual bool is_link(const std::filesystem::path& path);
    // Removes the folder tree (or the file) at `path` without ever following
    // a link: a link met anywhere, `path` itself included, is removed as a
    // link, or left where the platform cannot remove one, and its target is
    // never entered. A read-only file or folder loses that attribute to go
    // (it keeps it when it stays). Goes on past what it cannot remove. True
    // when nothing is left at `path`, also when nothing was there.
    virtual bool remove_tree(const std::filesystem::path& path);
    // Creates `path` exclusively, never through a link (O_CREAT | O_EXCL |
    // O_NOFOLLOW; CREATE_NEW without following a reparse point), writes
    // `bytes` into it and flushes it to the disk before closing it (fsync,
    // FlushFileBuffers): a failed flush is not written, as a failed write is.
    virtual NewFile write_new_file(const std::filesystem::path& path,
                                   std::span<const std::uint8_t> bytes);
    // The same with the bytes (and, where files have them, the permission
    // bits) of the file `source`; not written when that cannot be read.
    virtual NewFile copy_to_new_file(const std::filesystem::path& source,
                                     const std::filesystem::path& path);
    // Deletes the file (or the link itself) at `path`; never a folder
    // (DeleteFileW).
    virtual FileRemoval remove_file(const std::filesystem::path& path);
    // The bytes of `path` when it is a regular file of at most `limit` bytes;
    // nothing when it is missing, anything else (a link, a folder, a fifo, a
    // device), larger, or cannot be read. Opened without following a link and
    // without waiting for a writer (O_NOFOLLOW | O_NONBLOCK on Linux;
    // FILE_FLAG_OPEN_REPARSE_POINT and a disk-file test on Windows), so that
    // nothing planted at the name can hold the reader.
    virtual std::optional<std::string> read_regular_file(const std::filesystem::path& path,
                                                         std::size_t limit);

    // ---- Processes -----------------------------------------------------------

    // Starts `application` (used as given: no search) with `command_line`,
    // without a window, with the caller's environment and current folder and
    // no inherited handles, and waits up to `timeout_ms`. The exit code; -1
    // when it could not start, did not exit by itself (killed, crashed), or
    // ran out of time, in which case it has been killed and nothing is left
    // running or waiting to be reaped.
    virtual int run_hidden(std::u16string_view application, std::u16string_view command_line,
                           std::uint32_t timeout_ms);
    // The first existing file named `file_name` in the absolute folders of the
    // executable search path, in order; never the current folder nor the
    // program's own. Empty when there is none.
    virtual std::filesystem::path search_path(std::u16string_view file_name);
    // The executable file names (without folder) of the running processes;
    // nullopt when the list cannot be taken.
    virtual std::optional<std::vector<std::u16string>> running_process_names();

    // Waits up to `timeout_ms` for process `id` to end, when that process runs
    // the file `program` (the file itself, not a name: ids are reused). Held
    // open meanwhile (OpenProcess with SYNCHRONIZE, a pidfd), so that the id
    // cannot pass to another process during the wait.
    virtual ProcessWait wait_for_program_exit(std::uint32_t id, const std::filesystem::path& program,
                                              std::uint32_t timeout_ms);

    // ---- Start-up ------------------------------------------------------------

    // Puts the calling thread into a single-threaded COM apartment
    // (CoInitializeEx); the result is not examined. The main thread stays in
    // it for good. Nothing to do on Linux.
    virtual void enter_com_apartment();
    // Leaves the apartment that the calling thread entered above
    // (CoUninitialize, once), as a worker does before it ends. Nothing to do
    // on Linux.
    virtual void leave_com_apartment();
    // The process's own arguments, the program path first (the command line
    // split by CommandLineToArgvW); empty when the line cannot be split.
    virtual std::vector<std::u16string> command_line_arguments();
    // The value of environment variable `name` as a path, unchanged; empty
    // when the variable is unset or empty.
    virtual std::filesystem::path environment_path(std::u16string_view name);
    // Creates the named mutex, owned by this process until it ends or calls
    // release_instance_mutex (CreateMutexW). At most one per process.
    virtual InstanceMutex create_instance_mutex(std::u16string_view name);
    // Gives up the mutex created above (ReleaseMutex, CloseHandle); nothing
    // when none is held.
    virtual void release_instance_mutex();
    virtual std::uint32_t current_process_id();
    // The folder for the temporary uninstaller copy, private to the user;
    // empty when there is none that is safe to use.
    virtual std::filesystem::path temporary_folder();
    // The same folder, held open for the steps below (on Linux opened once,
    // without following a link at the folders the program makes there, and
    // checked on its handle); empty when there is none that is safe to use.
    virtual HeldFolder open_temporary_folder();
    // Creates the file `name` (no folder) in `folder` as copy_to_new_file
    // does: exclusively, never through a link, with the bytes and the
    // permission bits of `source`, flushed to the disk.
    virtual NewFile copy_to_new_file_in(const HeldFolder& folder, const std::filesystem::path& name,
                                        const std::filesystem::path& source);
    // Removes the regular file `name` from `folder`; anything else at the
    // name (a link, a folder) stays. True when a file was removed.
    virtual bool remove_file_in(const HeldFolder& folder, const std::filesystem::path& name);
    // Starts the program `name` in `folder` with `command_line` (its first
    // argument the program's quoted path) and does not wait for it
    // (CreateProcessW without inherited handles). `working_folder` is its
    // current folder; empty gives it `folder`. False when it could not be
    // started.
    virtual bool start_process(const HeldFolder& folder, const std::filesystem::path& name,
                               std::u16string_view command_line,
                               const std::filesystem::path& working_folder);
    // Starts a hidden command that waits about two seconds and then deletes
    // `file`, so that it can be the running executable; on Linux through a
    // handle of the temporary folder when `file` lies there. False when the
    // command could not be started.
    virtual bool start_delayed_delete(const std::filesystem::path& file);
    // Shows an error message with `caption` and no owner window, and returns
    // when the user has closed it (MessageBoxW with MB_ICONERROR).
    virtual void show_error_message(const std::string& text, const std::string& caption);
    // Opens a file, folder or web address with the desktop's default handler
    // (ShellExecuteW "open"), in `working_folder` when one is given; not
    // waited for, and nobody looks at whether it worked.
    virtual void open_with_default_handler(std::u16string_view target,
                                           const std::filesystem::path& working_folder);

    // ---- The window and its web view ---------------------------------------
    // The handles are the view engine's (view::Engine::window and web_view).
    // Nothing here fails in a way that anyone looks at.

    // Frameless and dark.
    virtual void dress_window(void* window);
    // The window's outer rectangle.
    virtual Rect window_frame(void* window);
    // The work area of the window's monitor; all zeros when it is not known.
    virtual Rect work_area(void* window);
    virtual void move_window(void* window, int x, int y);
    // Starts moving the window with the pointer, as a press on its caption
    // does (ReleaseCapture, then WM_NCLBUTTONDOWN with HTCAPTION).
    virtual void begin_window_drag(void* window);
    virtual void minimize_window(void* window);
    // Developer tools, context menu and zoom off; every navigation, frame,
    // new window and permission request goes by `allowed`.
    virtual void lock_down_web_view(void* web_view, WebRequestRule allowed);
};

// The System in force: the real one, or the one a ScopedSystem installed.
System& os();

// Installs `replacement` as os() for its own lifetime (tests only).
class ScopedSystem {
public:
    explicit ScopedSystem(System& replacement);
    ~ScopedSystem();
    ScopedSystem(const ScopedSystem&) = delete;
    ScopedSystem& operator=(const ScopedSystem&) = delete;

private:
    System* previous_;
};

}  // namespace vellumo::platform
