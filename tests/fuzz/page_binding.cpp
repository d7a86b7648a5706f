// The page bindings' argument rule: a request is one string in an array, and
// anything else, malformed text included, is no argument.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "app/bindings.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string request(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> argument = vellumo::single_string_argument(request);
    if (!argument) return 0;
    // What the page would send for that argument gives it again (the parser
    // takes valid UTF-8 only, so the strict dump cannot throw).
    const std::string again = nlohmann::json::array({*argument}).dump();
    vellumo::fuzz::require(vellumo::single_string_argument(again) == argument,
                           "an argument sent again reads the same");
    return 0;
}
