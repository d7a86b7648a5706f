#include "engine/replace.hpp"

#include <chrono>
#include <functional>
#include <system_error>
#include <thread>

#include "engine/links.hpp"
#include "engine/text.hpp"
#include "platform/platform.hpp"

namespace vellumo {
namespace {

namespace fs = std::filesystem;
using platform::NewFile;

// Makes the temporary file, exclusively and never through a link.
using CreateNew = std::function<NewFile(const fs::path& temporary)>;

bool fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

fs::path with_suffix(const fs::path& path, const std::string& suffix) {
    fs::path result = path;
    result += suffix;  // appended to the text itself, no separator
    return result;
}

// How often, and how far apart, a replacement is tried when other writers
// may be moving the same target: their moves last a moment.
constexpr int several_writers_attempts = 50;
constexpr std::chrono::milliseconds several_writers_pause{10};

std::string process_tag() { return std::to_string(platform::os().current_process_id()); }

fs::path temporary_path(const fs::path& target, Writers writers) {
    if (writers == Writers::one) return with_suffix(target, temporary_suffix);
    return with_suffix(target, "." + process_tag() + temporary_suffix);
}

fs::path backup_path(const fs::path& target, Writers writers) {
    std::string suffix = backup_marker + std::to_string(platform::os().tick_count_ms());
    if (writers == Writers::several) suffix += "-" + process_tag();
    return with_suffix(target, suffix);
}

// For a target that cannot be replaced (a running program, say): moves it
// aside and the new file in. When the new file cannot go in, the target goes
// back to its name: a registered uninstaller must never be left nameless, and
// the next clean-up would take its backup for a leftover.
bool move_aside_and_in(const fs::path& temporary, const fs::path& target, Writers writers) {
    platform::System& os = platform::os();
    const fs::path backup = backup_path(target, writers);
    if (!os.move_file_no_overwrite(target, backup, false)) return false;
    const bool moved_in = os.move_file_no_overwrite(temporary, target, true);
    if (!moved_in)
        os.move_file_no_overwrite(backup, target, false);  // nothing more to try if this fails
    // Nobody cleans up beside a target that several write. A backup still
    // there is an older copy that nobody needs: the name holds the new file,
    // or another writer's, or ours once it is tried again.
    std::error_code ignored;
    if (writers == Writers::several) fs::remove(backup, ignored);
    return moved_in;
}

// Moves the new file over the target. Another writer's moves can make this
// fail for a moment (on Windows a file cannot be replaced while it is open,
// and theirs is open while they move it): with several writers, try again.
bool move_into_place(const fs::path& temporary, const fs::path& target, Writers writers) {
    const int attempts = writers == Writers::several ? several_writers_attempts : 1;
    for (int attempt = 1;; ++attempt) {
        if (platform::os().move_file_replacing(temporary, target) ||
            move_aside_and_in(temporary, target, writers))
            return true;
        if (attempt == attempts) return false;
        std::this_thread::sleep_for(several_writers_pause);
    }
}

bool replace_file(const fs::path& target, const fs::path& trusted_root, const CreateNew& create,
                  Writers writers, std::string& error) {
    const fs::path parent = target.parent_path();
    const std::string name = path_utf8(target.filename());
    const std::string link_message = "A link is in the way of " + name + ".";
    std::error_code ignored;

    // Before the folders are made: they would be made wherever a link points.
    if (link_in_the_way(target, trusted_root)) return fail(error, link_message);
    fs::create_directories(parent, ignored);  // a failure shows when the file is created

    const fs::path temporary = temporary_path(target, writers);
    fs::remove(temporary, ignored);  // stale, or planted: a link goes, its target stays
    switch (create(temporary)) {
    case NewFile::written:
        break;
    case NewFile::not_created:
        return fail(error, "Could not write to " + path_utf8(parent) + ".");
    case NewFile::not_written:
        return fail(error, "The disk may be full.");
    }

    if (!move_into_place(temporary, target, writers)) {
        fs::remove(temporary, ignored);
        return fail(error, "Could not replace " + name + ". Close it and try again.");
    }
    // Our file can be swapped for a link between its creation and the move,
    // and the move then puts the link in place: take it away again.
    if (platform::os().is_link(target)) {
        fs::remove(target, ignored);
        return fail(error, link_message);
    }
    return true;
}

}  // namespace

bool write_file_replacing(const fs::path& target, const fs::path& trusted_root,
                          std::span<const std::uint8_t> bytes, std::string& error,
                          Writers writers) {
    return replace_file(
        target, trusted_root,
        [&](const fs::path& temporary) { return platform::os().write_new_file(temporary, bytes); },
        writers, error);
}

bool write_text_file_replacing(const fs::path& target, const fs::path& trusted_root,
                               const std::string& text, std::string& error, Writers writers) {
    const std::string content = platform::text_file_content(text);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.data());
    return write_file_replacing(target, trusted_root, {bytes, content.size()}, error, writers);
}

bool copy_file_replacing(const fs::path& source, const fs::path& target,
                         const fs::path& trusted_root, std::string& error) {
    return replace_file(
        target, trusted_root,
        [&](const fs::path& temporary) {
            return platform::os().copy_to_new_file(source, temporary);
        },
        Writers::one, error);
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
