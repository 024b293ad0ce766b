// Built natively and for Windows (run under Wine).
#include "launcher/console/console_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(ConsoleText, ServerTextIsShownOnOneLineWithoutControls)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Mon Dec  7 10:00:00 UTC 2026\n", "Mon Dec  7 10:00:00 UTC 2026"},
        {"\x1b]0;title\x07\x1b[2J\x1b[1;31mred\x1b[0m", "red"},
        {"\x1b]2;title\x1b\\x\x1b"
         "cy",
         "xy"},
        {"one\r\ntwo\tthree", "one  two three"},
        {std::string("nul\0bell\x07"
                     "del\x7f",
                     13),
         "nulbelldel"},
        {"c1 \xc2\x9b"
         "2J csi",
         "c1 2J csi"},
        {"mise \xc3\xa0 jour \xe2\x80\xa8 \xf0\x9f\x98\x80", "mise \xc3\xa0 jour   \xf0\x9f\x98\x80"},
        {"bad \xff\xc3 \xc0\x80 \xed\xa0\x80 cut \xe2\x80", "bad    cut"},
        {"\x1b[", ""},
        {"evil\xe2\x80\xaetxt.exe \xe2\x81\xa6x\xe2\x81\xa9", "eviltxt.exe x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(printableOnOneLine(c.first), c.second) << c.first;
}

}  // namespace
