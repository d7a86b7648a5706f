// install.json texts that once crashed its readers, for the unit and the
// program tests.
#pragma once

#include <cstddef>
#include <string>

namespace vellumo::test {

// Valid JSON nested `depth` arrays deep under "files": a recursive copy of the
// parsed value runs out of stack long before the end.
inline std::string deeply_nested_record(std::size_t depth) {
    return "{\"files\": " + std::string(depth, '[') + std::string(depth, ']') + "}";
}

}  // namespace vellumo::test
