#include "launcher/log/run_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string contents(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(RunLog, ReplacedEachRunOneLineAPieceAndNeverPastItsLimit)
{
    const std::string name = testing::TempDir() + "run_log_test.log";
    RunLog first;
    ASSERT_TRUE(first.open(name));
    first.line("the last run's");
    RunLog log;
    ASSERT_TRUE(log.open(name));
    log.line("lock text: \x1b]0;title\x07 2026\r\nforged line\x7f");
    std::string text = contents(name);
    EXPECT_EQ(text.find("the last run's"), std::string::npos);
    EXPECT_NE(text.find("lock text:  2026  forged line\n"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;  // the version's line, then this one

    const std::string kibibyte(1024, 'x');
    for (std::size_t i = 0; i < RunLog::limitBytes / kibibyte.size() + 100; ++i)
        log.line(kibibyte);
    text = contents(name);
    EXPECT_LE(text.size(), RunLog::limitBytes);
    EXPECT_GT(text.size(), RunLog::limitBytes - 2 * kibibyte.size());
    EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), "(the log is cut here: it holds at most 16 MiB)\n");
    std::remove(name.c_str());
}
