// The operating-system seam: every OS operation that engine/ and app/ use.
// linux/ implements it on Linux; a Windows implementation drops in beside it.
// Signatures carry no OS type. Tests replace single operations through
// ScopedSystem where the machine cannot produce a failure for real.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace vellumo::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

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
