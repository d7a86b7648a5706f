// Key paths and value names through the registry stand-in's store, each input
// on a fresh store file: byte 0 is the number of UTF-16 units of the key path
// that follow, the rest is the value name. Whatever the text, a value that
// was set reads back as set, and a deleted tree is gone.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "platform/linux/registry_store.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellumo::platform;
    namespace store = registry_store;
    namespace fs = std::filesystem;
    if (size < 1) return 0;
    const std::size_t key_bytes = std::min<std::size_t>(std::size_t{data[0]} * 2, size - 1);
    const std::u16string key = vellumo::fuzz::utf16_units(data + 1, key_bytes);
    const std::u16string name = vellumo::fuzz::utf16_units(data + 1 + key_bytes, size - 1 - key_bytes);
    const std::vector<std::uint8_t> value{'v', 0, 0, 0};
    using vellumo::fuzz::require;

    static const fs::path file = vellumo::fuzz::scratch_folder() / "hive.sqlite3";
    std::error_code ignored;
    fs::remove(file, ignored);

    if (store::set_value(file, key, name, 1, value)) {
        const auto stored = store::get_value(file, key, name);
        require(stored && stored->type == 1 && stored->data == value, "a set value reads back");
        require(store::key_exists(file, key), "a key with a value exists");
        require(store::value_names(file, key).has_value(), "a key with a value can be listed");
        require(store::delete_tree(file, key), "a key's tree can be deleted");
        require(!store::get_value(file, key, name), "a deleted tree's values are gone");
        if (store::delete_key(file, key)) require(!store::key_exists(file, key), "a deleted key is gone");
    } else {
        store::create_key(file, key);
        store::subkeys(file, key);
        store::key_exists(file, key);
        store::delete_key(file, key);
    }
    return 0;
}
