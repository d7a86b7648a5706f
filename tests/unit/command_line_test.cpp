#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace vellumo {
namespace {

using namespace std::string_literals;

struct SplitCase {
    const char* what;
    std::u16string command_line;
    std::vector<std::u16string> arguments;
};

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    const SplitCase cases[] = {
        {"empty", u"", {}},
        {"plain words", u"a.exe b c", {u"a.exe", u"b", u"c"}},
        {"runs of spaces and tabs, trailing blank", u"a.exe  b\t c ", {u"a.exe", u"b", u"c"}},
        {"a newline is no separator", u"a.exe b\nc", {u"a.exe", u"b\nc"}},
        {"quoted program with a space", u"\"C:\\Program Files\\a.exe\" -x",
         {u"C:\\Program Files\\a.exe", u"-x"}},
        {"quoted program takes backslashes literally", u"\"C:\\dir\\\\\" x",
         {u"C:\\dir\\\\", u"x"}},
        {"quoted program ends at its quote", u"\"a b\"c d", {u"a b", u"c", u"d"}},
        {"unclosed quoted program", u"\"a b", {u"a b"}},
        {"unquoted program keeps its quotes", u"a\"b c", {u"a\"b", u"c"}},
        {"leading blank gives an empty program", u"  a b", {u"", u"a", u"b"}},
        {"quoted argument", u"a.exe \"b c\" d", {u"a.exe", u"b c", u"d"}},
        {"quoted parts inside an argument", u"a.exe a\"b c\"d", {u"a.exe", u"ab cd"}},
        {"empty quoted argument", u"a.exe \"\"", {u"a.exe", u""}},
        {"unclosed quoted argument", u"a.exe \"b c", {u"a.exe", u"b c"}},
        {"backslashes before no quote are literal", u"a.exe a\\\\b c\\", {u"a.exe", u"a\\\\b", u"c\\"}},
        {"one backslash escapes a quote", u"a.exe \\\"b", {u"a.exe", u"\"b"}},
        {"two backslashes and a quote open a quoted part", u"a.exe \\\\\"b c\"",
         {u"a.exe", u"\\b c"}},
        {"three backslashes and a quote", u"a.exe \\\\\\\"b", {u"a.exe", u"\\\"b"}},
        {"four backslashes and a quoted part", u"a.exe a\\\\\\\\\"b\"", {u"a.exe", u"a\\\\b"}},
        {"escaped quote inside quotes", u"a.exe \"a\\\"b c\"", {u"a.exe", u"a\"b c"}},
        {"doubled quote inside quotes is a quote and ends the quoted part",
         u"a.exe \"a\"\"b\" c", {u"a.exe", u"a\"b c"}},
        {"tripled quotes", u"a.exe \"\"\"a\"\"\"", {u"a.exe", u"\"a\""}},
        {"the text ends at a null unit", u"a b\0c"s, {u"a", u"b"}},
        {"a probe's command line",
         u"\"/opt/py/py.exe\" -3 -I -S -c \"import sys;sys.exit(0 if struct.calcsize('P') == 8 else 1)\"",
         {u"/opt/py/py.exe", u"-3", u"-I", u"-S", u"-c",
          u"import sys;sys.exit(0 if struct.calcsize('P') == 8 else 1)"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::split_command_line(c.command_line), c.arguments) << c.what;
}

}  // namespace
}  // namespace vellumo
