#include "engine/replace.hpp"

#include <fstream>
#include <system_error>

#include "engine/text.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;

bool is_link(const fs::path& path) {
    std::error_code ignored;
    return fs::is_symlink(fs::symlink_status(path, ignored));
}

bool fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

fs::path with_suffix(const fs::path& path, const std::string& suffix) {
    fs::path result = path;
    result += suffix;  // appended to the text itself, no separator
    return result;
}

}  // namespace

bool write_file_replacing(const fs::path& target, const std::vector<std::uint8_t>& bytes,
                          std::string& error) {
    const fs::path parent = target.parent_path();
    const std::string name = path_utf8(target.filename());
    std::error_code ignored;

    fs::create_directories(parent, ignored);  // a failure shows when the file is opened

    if (is_link(parent) || is_link(target))
        return fail(error, "A link is in the way of " + name + ".");

    const fs::path temporary = with_suffix(target, temporary_suffix);
    // A link at our own temporary name can only have been planted; writing
    // through it would put the bytes wherever it points.
    if (is_link(temporary)) fs::remove(temporary, ignored);

    std::ofstream out(temporary, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!out) return fail(error, "Could not write to " + path_utf8(parent) + ".");

    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.flush();
    out.close();  // closing writes too: a failure there is a failed write as well
    if (!out) {
        fs::remove(temporary, ignored);
        return fail(error, "The disk may be full.");
    }

    if (platform::os().move_file_replacing(temporary, target)) return true;

    // The target cannot be replaced (a running program, say): move it aside
    // and the new file in. No step is undone if the second move fails.
    const fs::path backup =
        with_suffix(target, backup_marker + std::to_string(platform::os().tick_count_ms()));
    if (platform::os().move_file_no_overwrite(target, backup, false) &&
        platform::os().move_file_no_overwrite(temporary, target, true))
        return true;

    fs::remove(temporary, ignored);
    return fail(error, "Could not replace " + name + ". Close it and try again.");
}

void remove_leftovers(const fs::path& folder) {
    std::error_code ignored;
    if (!fs::is_directory(fs::status(folder, ignored))) return;

    const fs::path::string_type backup = fs::path(backup_marker).native();
    const fs::path::string_type temporary = fs::path(temporary_suffix).native();

    // A folder that cannot be listed gives the end iterator; a failure while
    // advancing throws, to the caller.
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ignored)) {
        const fs::path::string_type name = entry.path().filename().native();
        const bool leftover =
            name.find(backup) != name.npos ||
            (name.size() > temporary.size() && name.ends_with(temporary));
        if (leftover) fs::remove(entry.path(), ignored);
    }
}

}  // namespace vellumo
