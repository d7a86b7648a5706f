// The registry stand-in's SQLite store, Linux only (no Windows twin). Layout
// of a store file (application_id 0x566C6D52 "VlmR", user_version 1):
//
//   keys        id      INTEGER PRIMARY KEY
//               parent  INTEGER NOT NULL   the parent key's id; 0 is the hive
//               name    BLOB NOT NULL      UTF-16 LE, no terminator
//   key_values  key     INTEGER NOT NULL   the key's id; 0 is the hive
//               name    BLOB NOT NULL      UTF-16 LE; empty is the default value
//               type    INTEGER NOT NULL   REG_SZ 1, REG_DWORD 4, ...
//               data    BLOB NOT NULL      the value's bytes as set
//
// Names are matched here rather than by SQLite (whose upper() knows only
// ASCII), so no folded form is stored and the folding rule can change without
// touching a file. Key and value names are unique per key under that rule.
#include "platform/linux/registry_store.hpp"

#include <sqlite3.h>
#include <sys/stat.h>
#include <wctype.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <memory>
#include <system_error>

namespace vellumo::platform::registry_store {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t store_application_id = 0x566C6D52;
constexpr std::int64_t store_schema_version = 1;
constexpr int busy_timeout_ms = 5000;
constexpr std::size_t max_key_name_units = 255;
constexpr std::size_t max_value_name_units = 16383;
constexpr std::int64_t hive_id = 0;

const std::string& schema_sql() {
    static const std::string sql =
        "CREATE TABLE keys (id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name BLOB NOT NULL);"
        "CREATE INDEX keys_by_parent ON keys (parent);"
        "CREATE TABLE key_values (key INTEGER NOT NULL, name BLOB NOT NULL,"
        " type INTEGER NOT NULL, data BLOB NOT NULL);"
        "CREATE INDEX key_values_by_key ON key_values (key);"
        "PRAGMA application_id = " + std::to_string(store_application_id) + ";"
        "PRAGMA user_version = " + std::to_string(store_schema_version) + ";";
    return sql;
}

// ---- Names ------------------------------------------------------------------

// Upper-cases one UTF-16 unit, as the registry does: unit by unit, so the
// halves of a surrogate pair stay as they are.
char16_t fold_unit(char16_t c) {
    if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (unicode == locale_t{}) return c;
    const wint_t upper = towupper_l(static_cast<wint_t>(c), unicode);
    return upper <= 0xFFFF && (upper < 0xD800 || upper > 0xDFFF) ? static_cast<char16_t>(upper) : c;
}

bool same_name(std::u16string_view a, std::u16string_view b) {
    return std::ranges::equal(a, b, {}, fold_unit, fold_unit);
}

bool name_before(std::u16string_view a, std::u16string_view b) {
    return std::ranges::lexicographical_compare(a, b, {}, fold_unit, fold_unit);
}

std::string to_blob(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::u16string from_blob(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    return text;
}

// The C API sees a name up to its first null unit.
std::u16string_view until_null(std::u16string_view text) {
    return text.substr(0, text.find(u'\0'));
}

using KeyPath = std::vector<std::u16string_view>;

std::optional<KeyPath> split_key_path(std::u16string_view path) {
    path = until_null(path);
    KeyPath parts;
    if (path.empty()) return parts;
    if (path.front() == u'\\') return std::nullopt;
    if (path.back() == u'\\') path.remove_suffix(1);
    for (;;) {
        const auto cut = path.find(u'\\');
        const auto part = path.substr(0, cut);
        if (part.empty() || part.size() > max_key_name_units) return std::nullopt;
        parts.push_back(part);
        if (cut == std::u16string_view::npos) return parts;
        path.remove_prefix(cut + 1);
    }
}

std::optional<std::u16string_view> checked_value_name(std::u16string_view name) {
    name = until_null(name);
    if (name.size() > max_value_name_units) return std::nullopt;
    return name;
}

// ---- SQLite -----------------------------------------------------------------

// Thrown on any SQLite failure inside this file and caught by the public
// functions; closing the connection rolls back what was not committed.
struct SqlError {};

void check(int rc) {
    if (rc != SQLITE_OK) throw SqlError{};
}

struct CloseDb {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, CloseDb>;

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        check(sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value) {
        check(sqlite3_bind_int64(stmt_, index, value));
        return *this;
    }
    // A std::string's data() is never null, so an empty blob binds as a
    // zero-length blob, not as NULL.
    Statement& bind(int index, const std::string& bytes) {
        check(sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
        return *this;
    }
    bool next() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw SqlError{};
    }
    void run() {
        while (next()) {
        }
    }
    std::int64_t integer(int column) { return sqlite3_column_int64(stmt_, column); }
    std::string bytes(int column) {
        const void* data = sqlite3_column_blob(stmt_, column);
        const int size = sqlite3_column_bytes(stmt_, column);
        return data ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                    : std::string();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

void exec(sqlite3* db, const std::string& sql) {
    check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr));
}

Db open(const fs::path& file, int flags) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    Db db(raw);
    check(rc);
    check(sqlite3_busy_timeout(db.get(), busy_timeout_ms));
    return db;
}

// Set when a write gave up waiting for a busy store: another process holds
// it in a long transaction. Until a write gets through again, writes in this
// process try once without waiting, so that a job of many writes (the
// Uninstall entry's delete and its eleven values) waits once, not once for
// each. Reads wait as before: a write transaction does not keep them out.
std::atomic<bool> writes_waited_out{false};

// Takes the write lock now (IMMEDIATE), so that a busy store is waited for
// here instead of failing at the first change.
void begin_writing(sqlite3* db) {
    if (writes_waited_out) check(sqlite3_busy_timeout(db, 0));
    const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if ((rc & 0xFF) == SQLITE_BUSY) writes_waited_out = true;
    check(rc);
    // Through: the commit waits for readers to finish, as usual.
    if (writes_waited_out.exchange(false)) check(sqlite3_busy_timeout(db, busy_timeout_ms));
}

enum class Identity { ours, fresh, foreign };

// Whether the open file is this store, an empty database that may become it,
// or anything else (someone else's database is never written to).
Identity identity(sqlite3* db) {
    const auto number = [db](const std::string& sql) {
        Statement query(db, sql);
        return query.next() ? query.integer(0) : 0;
    };
    const std::int64_t application = number("PRAGMA application_id");
    const std::int64_t version = number("PRAGMA user_version");
    if (application == store_application_id && version == store_schema_version)
        return Identity::ours;
    if (application == 0 && version == 0 && number("SELECT count(*) FROM sqlite_schema") == 0)
        return Identity::fresh;
    return Identity::foreign;
}

// Creates the missing folders of `dir`, private to the user as the registry is.
bool make_folders(const fs::path& dir) {
    std::error_code ignored;
    if (fs::is_directory(dir, ignored)) return true;
    const fs::path parent = dir.parent_path();
    if (parent.empty() || parent == dir || !make_folders(parent)) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || (errno == EEXIST && fs::is_directory(dir, ignored));
}

// Runs `op` in one read transaction. False when the file is missing, is not
// the store, or `op` says so.
template <class Op>
bool read_store(const fs::path& file, Op op) {
    if (file.empty()) return false;
    try {
        Db db = open(file, SQLITE_OPEN_READONLY);
        exec(db.get(), "BEGIN");
        return identity(db.get()) == Identity::ours && op(db.get());
    } catch (const SqlError&) {
        return false;
    }
}

// Runs `op` in one write transaction, committed only when `op` returns true.
// Only `create` makes a missing file (and its folders) or sets up an empty one.
template <class Op>
bool write_store(const fs::path& file, bool create, Op op) {
    if (file.empty()) return false;
    if (create && !make_folders(file.parent_path())) return false;
    try {
        Db db = open(file, create ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                  : SQLITE_OPEN_READWRITE);
        begin_writing(db.get());
        switch (identity(db.get())) {
        case Identity::ours:
            break;
        case Identity::fresh:
            if (!create) return false;
            exec(db.get(), schema_sql());
            break;
        case Identity::foreign:
            return false;
        }
        if (!op(db.get())) return false;
        exec(db.get(), "COMMIT");
        return true;
    } catch (const SqlError&) {
        return false;
    }
}

// ---- Keys and values ----------------------------------------------------------

std::optional<std::int64_t> find_child(sqlite3* db, std::int64_t parent, std::u16string_view name) {
    Statement query(db, "SELECT id, name FROM keys WHERE parent = ?1");
    query.bind(1, parent);
    while (query.next())
        if (same_name(from_blob(query.bytes(1)), name)) return query.integer(0);
    return std::nullopt;
}

std::optional<std::int64_t> find_key(sqlite3* db, const KeyPath& path) {
    std::int64_t id = hive_id;
    for (const auto part : path) {
        const auto child = find_child(db, id, part);
        if (!child) return std::nullopt;
        id = *child;
    }
    return id;
}

std::int64_t make_key(sqlite3* db, const KeyPath& path) {
    std::int64_t id = hive_id;
    for (const auto part : path) {
        if (const auto child = find_child(db, id, part)) {
            id = *child;
            continue;
        }
        Statement(db, "INSERT INTO keys (parent, name) VALUES (?1, ?2)")
            .bind(1, id)
            .bind(2, to_blob(part))
            .run();
        id = sqlite3_last_insert_rowid(db);
    }
    return id;
}

std::optional<std::int64_t> find_value(sqlite3* db, std::int64_t key, std::u16string_view name) {
    Statement query(db, "SELECT rowid, name FROM key_values WHERE key = ?1");
    query.bind(1, key);
    while (query.next())
        if (same_name(from_blob(query.bytes(1)), name)) return query.integer(0);
    return std::nullopt;
}

// Every key below ?1, for the statement that follows. UNION rather than
// UNION ALL, so that a damaged parent chain cannot loop.
constexpr const char* keys_below =
    "WITH RECURSIVE below(id) AS (SELECT id FROM keys WHERE parent = ?1"
    " UNION SELECT keys.id FROM keys JOIN below ON keys.parent = below.id) ";

}  // namespace

fs::path hive_file(RegistryRoot root) {
    const auto absolute = [](std::string_view text) { return !text.empty() && text[0] == '/'; };
    const auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string_view(value ? value : "");
    };

    if (root == RegistryRoot::local_machine) {
        fs::path dir = "/etc/xdg";
        std::string_view dirs = variable("XDG_CONFIG_DIRS");
        while (!dirs.empty()) {
            const auto cut = dirs.find(':');
            const auto entry = dirs.substr(0, cut);
            if (absolute(entry)) {
                dir = fs::path(entry);
                break;
            }
            dirs = cut == std::string_view::npos ? std::string_view() : dirs.substr(cut + 1);
        }
        return dir / "vellumo-setup" / "hklm.sqlite3";
    }

    fs::path state;
    if (const auto xdg = variable("XDG_STATE_HOME"); absolute(xdg)) {
        state = fs::path(xdg);
    } else if (const auto home = variable("HOME"); absolute(home)) {
        state = fs::path(home) / ".local" / "state";
    } else {
        return {};
    }
    return state / "vellumo-setup" / "hkcu.sqlite3";
}

bool create_key(const fs::path& file, std::u16string_view key) {
    const auto path = split_key_path(key);
    return path && write_store(file, true, [&](sqlite3* db) {
               make_key(db, *path);
               return true;
           });
}

bool set_value(const fs::path& file, std::u16string_view key, std::u16string_view name,
               std::uint32_t type, std::span<const std::uint8_t> data) {
    const auto path = split_key_path(key);
    const auto value_name = checked_value_name(name);
    if (!path || !value_name) return false;
    const std::string bytes(data.begin(), data.end());
    return write_store(file, true, [&](sqlite3* db) {
        const std::int64_t id = make_key(db, *path);
        // A value set again keeps the name it was created with.
        if (const auto row = find_value(db, id, *value_name)) {
            Statement(db, "UPDATE key_values SET type = ?2, data = ?3 WHERE rowid = ?1")
                .bind(1, *row)
                .bind(2, type)
                .bind(3, bytes)
                .run();
        } else {
            Statement(db, "INSERT INTO key_values (key, name, type, data) VALUES (?1, ?2, ?3, ?4)")
                .bind(1, id)
                .bind(2, to_blob(*value_name))
                .bind(3, type)
                .bind(4, bytes)
                .run();
        }
        return true;
    });
}

bool delete_tree(const fs::path& file, std::u16string_view key) {
    const auto path = split_key_path(key);
    return path && write_store(file, false, [&](sqlite3* db) {
               const auto id = find_key(db, *path);
               if (!id) return false;
               Statement(db, std::string(keys_below) +
                                 "DELETE FROM key_values WHERE key = ?1 OR key IN below")
                   .bind(1, *id)
                   .run();
               Statement(db, std::string(keys_below) + "DELETE FROM keys WHERE id IN below")
                   .bind(1, *id)
                   .run();
               return true;
           });
}

bool delete_key(const fs::path& file, std::u16string_view key) {
    const auto path = split_key_path(key);
    return path && !path->empty() && write_store(file, false, [&](sqlite3* db) {
               const auto id = find_key(db, *path);
               if (!id) return false;
               Statement children(db, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
               if (children.bind(1, *id).next()) return false;
               Statement(db, "DELETE FROM key_values WHERE key = ?1").bind(1, *id).run();
               Statement(db, "DELETE FROM keys WHERE id = ?1").bind(1, *id).run();
               return true;
           });
}

std::optional<StoredValue> get_value(const fs::path& file, std::u16string_view key,
                                     std::u16string_view name) {
    const auto path = split_key_path(key);
    const auto value_name = checked_value_name(name);
    if (!path || !value_name) return std::nullopt;
    std::optional<StoredValue> result;
    read_store(file, [&](sqlite3* db) {
        const auto id = find_key(db, *path);
        if (!id) return false;
        Statement query(db, "SELECT name, type, data FROM key_values WHERE key = ?1");
        query.bind(1, *id);
        while (query.next()) {
            if (!same_name(from_blob(query.bytes(0)), *value_name)) continue;
            const std::string data = query.bytes(2);
            result = StoredValue{static_cast<std::uint32_t>(query.integer(1)),
                                 std::vector<std::uint8_t>(data.begin(), data.end())};
            return true;
        }
        return false;
    });
    return result;
}

// The hive itself always exists, even while its file is missing or unreadable.
bool key_exists(const fs::path& file, std::u16string_view key) {
    const auto path = split_key_path(key);
    if (!path) return false;
    if (path->empty()) return true;
    return read_store(file, [&](sqlite3* db) { return find_key(db, *path).has_value(); });
}

std::optional<std::vector<std::u16string>> subkeys(const fs::path& file, std::u16string_view key) {
    const auto path = split_key_path(key);
    if (!path) return std::nullopt;
    std::vector<std::u16string> names;
    const bool read = read_store(file, [&](sqlite3* db) {
        const auto id = find_key(db, *path);
        if (!id) return false;
        Statement query(db, "SELECT name FROM keys WHERE parent = ?1");
        query.bind(1, *id);
        while (query.next()) names.push_back(from_blob(query.bytes(0)));
        return true;
    });
    if (!read) {
        if (!path->empty()) return std::nullopt;
        names.clear();  // an unreadable store is an empty hive
    }
    std::ranges::sort(names, name_before);
    return names;
}

std::optional<std::vector<std::u16string>> value_names(const fs::path& file,
                                                       std::u16string_view key) {
    const auto path = split_key_path(key);
    if (!path) return std::nullopt;
    std::vector<std::u16string> names;
    const bool read = read_store(file, [&](sqlite3* db) {
        const auto id = find_key(db, *path);
        if (!id) return false;
        Statement query(db, "SELECT name FROM key_values WHERE key = ?1 ORDER BY rowid");
        query.bind(1, *id);
        while (query.next()) names.push_back(from_blob(query.bytes(0)));
        return true;
    });
    if (!read) return std::nullopt;
    return names;
}

}  // namespace vellumo::platform::registry_store
