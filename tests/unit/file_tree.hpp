// A folder's whole content as one comparable value, links shown and never
// followed, for tests that must see that nothing else changed.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace vellumo::test {

// Relative path -> its content: "<dir>" for a folder, "-> target" for a link.
using Tree = std::map<std::string, std::string>;

inline Tree tree_of(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    Tree tree;
    const fs::recursive_directory_iterator end;
    for (auto it = fs::recursive_directory_iterator(folder); it != end; ++it) {
        const std::string name = it->path().lexically_relative(folder).string();
        if (it->is_symlink()) {
            tree[name] = "-> " + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            tree[name] = "<dir>";
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            tree[name] = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        }
    }
    return tree;
}

}  // namespace vellumo::test
