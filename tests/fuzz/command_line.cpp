// The command-line splitter. Each argument after the program, quoted again by
// the usual rule (backslashes doubled before a quote, quotes escaped, the
// whole in quotes), must split back to itself: the splitter and the quoting
// that Windows programs use agree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "platform/platform.hpp"

namespace {

std::u16string quoted(const std::u16string& argument) {
    std::u16string out = u"\"";
    std::size_t backslashes = 0;
    for (const char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, u'\\');
    return out + u"\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using vellumo::platform::split_command_line;
    const std::vector<std::u16string> arguments =
        split_command_line(vellumo::fuzz::utf16_units(data, size));

    std::u16string line = u"program";
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        vellumo::fuzz::require(arguments[i].find(u'\0') == std::u16string::npos,
                               "no argument holds a null");
        line += u' ' + quoted(arguments[i]);
    }
    std::vector<std::u16string> expected = arguments;
    if (expected.empty()) expected.emplace_back();
    expected[0] = u"program";
    vellumo::fuzz::require(split_command_line(line) == expected, "quoted arguments split back");
    return 0;
}
