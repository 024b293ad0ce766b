#include "publisher/command/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool parse(std::vector<std::string> words, Options& options)
{
    words.insert(words.begin(), "orn-publish");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    options = Options();
    return parseOptions(static_cast<int>(argv.size()), argv.data(), options);
}

// Command lines, and whether the usage allows them.
const std::vector<std::pair<std::vector<std::string>, bool>> commandLines = {
    {{"tree", "channel"}, true},
    {{"--hold-lock", "86400", "--new-channel", "tree", "channel"}, true},
    {{"--sign", "k", "--expires", "never", "--serial", "5", "--keep-releases", "1000", "tree", "channel"}, true},
    {{"--sign", "k", "--resign", "channel"}, true},
    {{"status", "channel", "--key", "k", "--warn-days", "0"}, true},
    {{"keygen", "k"}, true},
    {{"tree"}, false},
    {{"tree", "channel", "more"}, false},
    {{"--sing", "k", "tree", "channel"}, false},
    {{"--expires", "30", "tree", "channel"}, false},  // signing options need --sign
    {{"--sign", "k", "--expires", "0", "tree", "channel"}, false},
    {{"--sign", "k", "--expires", "36501", "tree", "channel"}, false},
    {{"--sign", "k", "--keep-releases", "0", "tree", "channel"}, false},
    {{"--sign", "k", "--keep-releases", "1001", "tree", "channel"}, false},
    {{"--sign", "k", "--serial", "0", "tree", "channel"}, false},
    {{"--sign", "k", "--serial", "-1", "tree", "channel"}, false},
    {{"--sign", "k", "--serial", "99999999999999999999", "tree", "channel"}, false},
    {{"--hold-lock", "86401", "tree", "channel"}, false},
    {{"--sign", "", "tree", "channel"}, false},
    {{"--sign", "k", "--trust", "not-a-key", "tree", "channel"}, false},
    {{"--resign", "channel"}, false},  // a re-sign signs
    {{"--sign", "k", "--resign", "--keep-releases", "2", "channel"}, false},
    {{"--sign", "k", "--resign", "tree", "channel"}, false},
    {{"status", "channel", "--sign", "k"}, false},
    {{"status"}, false},
    {{"keygen"}, false},
    {{"--hold-lock"}, false},
};

}  // namespace

TEST(CommandLine, TakesWhatTheUsageAllowsAndNothingElse)
{
    for (const auto& [words, accepted] : commandLines) {
        Options options;
        std::string shown;
        for (const std::string& word : words)
            shown += word + " ";
        EXPECT_EQ(parse(words, options), accepted) << shown;
    }
}

TEST(CommandLine, GivesEachValueItsPlace)
{
    using Command = Options::Command;
    Options options;
    ASSERT_TRUE(parse({"--sign", "k", "--expires", "never", "--serial", "5", "tree", "channel"}, options));
    EXPECT_EQ(options.command, Command::publish);
    EXPECT_TRUE(options.signing.expiryGiven);
    EXPECT_EQ(options.signing.expiresDays, 0u);
    EXPECT_EQ(options.signing.serial, 5u);
    EXPECT_EQ(options.signing.keepReleases, defaultKeptReleases);
    EXPECT_EQ(options.operands, (std::vector<std::string>{"tree", "channel"}));
    ASSERT_TRUE(parse({"--sign", "k", "--resign", "channel"}, options));
    EXPECT_EQ(options.command, Command::resign);
    EXPECT_TRUE(options.signing.resign);
    ASSERT_TRUE(parse({"status", "channel"}, options));
    EXPECT_EQ(options.command, Command::status);
    EXPECT_EQ(options.warnDays, expiryWarningDays);
}

TEST(CommandLine, TheUsageGivesTheDefaultsInForce)
{
    for (const std::string& said : {"(default " + std::to_string(expiryWarningDays) + ")",
                                    "(default " + std::to_string(defaultExpiryDays) + ";",
                                    "(default " + std::to_string(defaultKeptReleases) + ","})
        EXPECT_NE(usageText().find(said), std::string::npos) << said;
}
