// Command-line splitting with the rules of CommandLineToArgvW, shared by every
// platform: the Linux process start uses it to turn a Windows command line
// into argv, and the start-up code to read the program's own arguments.
#include "platform/platform.hpp"

namespace vellumo::platform {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view command_line) {
    const std::u16string_view text = command_line.substr(0, command_line.find(u'\0'));
    std::vector<std::u16string> arguments;
    if (text.empty()) return arguments;

    std::size_t i = 0;
    // The program: no escapes, and a quoted one ends at the next quote even
    // when more text follows it directly.
    std::u16string program;
    if (text[0] == u'"') {
        const std::size_t close = text.find(u'"', 1);
        program = text.substr(1, close == std::u16string_view::npos ? close : close - 1);
        i = close == std::u16string_view::npos ? text.size() : close + 1;
    } else {
        while (i < text.size() && !is_blank(text[i])) program += text[i++];
    }
    arguments.push_back(std::move(program));

    // The other arguments.
    enum class Quoting { outside, inside, just_closed };
    Quoting quoting = Quoting::outside;
    std::u16string current;
    bool in_argument = false;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (is_blank(c) && quoting != Quoting::inside) {
            if (in_argument) arguments.push_back(std::move(current));
            current.clear();
            in_argument = false;
            quoting = Quoting::outside;
            ++i;
            continue;
        }
        in_argument = true;
        if (c == u'\\') {
            std::size_t backslashes = 0;
            while (i < text.size() && text[i] == u'\\') ++backslashes, ++i;
            const bool before_quote = i < text.size() && text[i] == u'"';
            current.append(before_quote ? backslashes / 2 : backslashes, u'\\');
            if (before_quote && backslashes % 2 == 1) {
                current += u'"';
                ++i;
            }
            if (quoting == Quoting::just_closed) quoting = Quoting::outside;
        } else if (c == u'"') {
            switch (quoting) {
                case Quoting::outside: quoting = Quoting::inside; break;
                case Quoting::inside: quoting = Quoting::just_closed; break;
                case Quoting::just_closed:
                    current += u'"';
                    quoting = Quoting::outside;
                    break;
            }
            ++i;
        } else {
            current += c;
            if (quoting == Quoting::just_closed) quoting = Quoting::outside;
            ++i;
        }
    }
    if (in_argument) arguments.push_back(std::move(current));
    return arguments;
}

}  // namespace vellumo::platform
