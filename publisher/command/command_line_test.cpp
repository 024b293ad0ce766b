#include "publisher/command/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool parse(std::vector<std::string> words, Options& options, std::string& failure)
{
    words.insert(words.begin(), "orn-publish");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    options = Options();
    return parseOptions(static_cast<int>(argv.size()), argv.data(), options, failure);
}

// Command lines, and what the refusal names ("" when the usage allows them).
const std::vector<std::pair<std::vector<std::string>, std::string>> commandLines = {
    {{"tree", "channel"}, ""},
    {{"--hold-lock", "86400", "--new-channel", "tree", "channel"}, ""},
    {{"--sign", "k", "--expires", "never", "--serial", "5", "--keep-releases", "1000", "tree", "channel"}, ""},
    {{"--sign", "k", "--resign", "channel"}, ""},
    {{"status", "channel", "--key", "k", "--warn-days", "0"}, ""},
    {{"keygen", "k"}, ""},
    {{"--help"}, ""},
    {{"--version"}, ""},
    {{}, "give SOURCE and CHANNEL_DIR"},
    {{"tree"}, "give SOURCE and CHANNEL_DIR"},
    {{"tree", "channel", "more"}, "and more besides"},
    {{"--sing", "k", "tree", "channel"}, "--sing: no such option"},
    {{"--expires", "30", "tree", "channel"}, "signing options: give --sign"},
    {{"--sign", "k", "--expires", "0", "tree", "channel"}, "--expires 0: DAYS must be a whole number from 1 to 36500"},
    {{"--sign", "k", "--expires", "36501", "tree", "channel"}, "--expires 36501: DAYS"},
    {{"--sign", "k", "--keep-releases", "0", "tree", "channel"}, "--keep-releases 0: N must be"},
    {{"--sign", "k", "--keep-releases", "1001", "tree", "channel"}, "from 1 to 1000"},
    {{"--sign", "k", "--serial", "0", "tree", "channel"}, "--serial 0: N must be"},
    {{"--sign", "k", "--serial", "-1", "tree", "channel"}, "--serial -1: N must be"},
    {{"--sign", "k", "--serial", "99999999999999999999", "tree", "channel"}, "--serial 99999999999999999999"},
    {{"--hold-lock", "86401", "tree", "channel"}, "--hold-lock 86401: SECONDS must be a whole number from 0"},
    {{"--sign", "", "tree", "channel"}, "--sign : an empty file name"},
    {{"--sign", "k", "--trust", "not-a-key", "tree", "channel"}, "--trust not-a-key: not a public key"},
    {{"--resign", "channel"}, "--resign signs: give --sign"},
    {{"--sign", "k", "--resign", "--keep-releases", "2", "channel"}, "--resign copies nothing"},
    {{"--sign", "k", "--resign", "tree", "channel"}, "--resign takes one CHANNEL_DIR"},
    {{"status", "channel", "--sign", "k"}, "--sign: no such option of status"},
    {{"status"}, "status takes one CHANNEL_DIR"},
    {{"keygen"}, "keygen takes one SECRET_KEY_FILE"},
    {{"keygen", "a", "b"}, "keygen takes one SECRET_KEY_FILE"},
    {{"--hold-lock"}, "--hold-lock: needs a value"},
    {{"promote", "beta", "latest", "--sign", "k", "--new-channel", "--hold-lock", "5"}, ""},
    {{"rollback", "latest", "--to", "7", "--sign", "k", "--keep-releases", "4"}, ""},
    {{"promote", "beta", "latest"}, "promote publishes a signed release: give --sign"},
    {{"promote", "beta", "--sign", "k"}, "promote takes FROM_CHANNEL_DIR and TO_CHANNEL_DIR"},
    {{"promote", "beta", "latest", "--sign", "k", "--resign"}, "--resign: no such option of promote"},
    {{"promote", "beta", "latest", "--sign", "k", "--to", "3"}, "--to: no such option of promote"},
    {{"rollback", "latest", "--sign", "k"}, "rollback needs --to SERIAL"},
    {{"rollback", "latest", "--to", "0", "--sign", "k"}, "--to 0: SERIAL must be"},
    {{"rollback", "a", "b", "--to", "3", "--sign", "k"}, "rollback takes one CHANNEL_DIR"},
    {{"rollback", "latest", "--to", "3", "--sign", "k", "--new-channel"}, "--new-channel: no such option of rollback"},
    {{"--sign", "k", "--rollout", "2.5", "--rollout-days", "6", "tree", "channel"}, ""},
    {{"--sign", "k", "--rollout-days", "3650", "tree", "channel"}, ""},
    {{"rollout", "latest", "60", "--sign", "k", "--expires", "30"}, ""},
    {{"rollout", "latest", "--halt", "--sign", "k"}, ""},
    {{"rollout", "latest", "--complete", "--sign", "k", "--hold-lock", "5"}, ""},
    {{"rollout", "latest", "--rollout-days", "6", "--sign", "k"}, ""},
    {{"--rollout", "25", "tree", "channel"}, "a staged release, which is signed: give --sign"},
    {{"--sign", "k", "--rollout", "100.5", "tree", "channel"},
     "--rollout 100.5: PERCENT must be a share from 0 to 100"},
    {{"--sign", "k", "--rollout", "2.00001", "tree", "channel"}, "at most four decimals"},
    {{"--sign", "k", "--rollout", "-5", "tree", "channel"}, "--rollout -5: PERCENT"},
    {{"--sign", "k", "--rollout-days", "0", "tree", "channel"},
     "--rollout-days 0: N must be a whole number from 1 to 3650"},
    {{"--sign", "k", "--rollout", "5", "--resign", "channel"}, "--resign signs the rollout that is on anew"},
    {{"--sign", "k", "--rollout", "5", "--hold-lock", "3", "tree", "channel"}, "--hold-lock does not apply"},
    {{"rollout", "latest", "60"}, "rollout signs: give --sign"},
    {{"rollout", "--sign", "k"}, "rollout takes one CHANNEL_DIR"},
    {{"rollout", "latest", "--sign", "k"}, "rollout takes one of PERCENT, --halt and --complete"},
    {{"rollout", "latest", "60", "--complete", "--sign", "k"}, "rollout takes one of PERCENT, --halt and --complete"},
    {{"rollout", "latest", "sixty", "--sign", "k"}, "sixty: PERCENT must be"},
    {{"rollout", "latest", "--halt", "--rollout-days", "3", "--sign", "k"}, "--rollout-days goes with a share"},
    {{"rollout", "latest", "60", "--hold-lock", "5", "--sign", "k"}, "--hold-lock applies to rollout --complete alone"},
    {{"rollout", "latest", "--rollout", "5", "--sign", "k"}, "--rollout: no such option of rollout"},
    {{"promote", "beta", "latest", "--sign", "k", "--halt"}, "--halt: no such option of promote"},
};

}  // namespace

TEST(CommandLine, TakesWhatTheUsageAllowsAndNothingElse)
{
    for (const auto& [words, refusal] : commandLines) {
        Options options;
        std::string shown;
        for (const std::string& word : words)
            shown += word + " ";
        std::string failure;
        EXPECT_EQ(parse(words, options, failure), refusal.empty()) << shown;
        if (!refusal.empty()) {
            EXPECT_NE(failure.find(refusal), std::string::npos) << shown << ": " << failure;
        }
    }
}

TEST(CommandLine, GivesEachValueItsPlace)
{
    using Command = Options::Command;
    Options options;
    std::string failure;
    ASSERT_TRUE(parse({"--sign", "k", "--expires", "never", "--serial", "5", "tree", "channel"}, options, failure));
    EXPECT_EQ(options.command, Command::publish);
    EXPECT_TRUE(options.signing.expiryGiven);
    EXPECT_EQ(options.signing.expiresDays, 0u);
    EXPECT_EQ(options.signing.serial, 5u);
    EXPECT_EQ(options.signing.keepReleases, defaultKeptReleases);
    EXPECT_EQ(options.operands, (std::vector<std::string>{"tree", "channel"}));
    ASSERT_TRUE(parse({"--sign", "k", "--resign", "channel"}, options, failure));
    EXPECT_EQ(options.command, Command::resign);
    EXPECT_TRUE(options.signing.resign);
    ASSERT_TRUE(parse({"status", "channel"}, options, failure));
    EXPECT_EQ(options.command, Command::status);
    EXPECT_EQ(options.warnDays, expiryWarningDays);
}

TEST(CommandLine, TheUsageGivesTheDefaultsInForce)
{
    for (const std::string& said :
         {"(default " + std::to_string(expiryWarningDays) + ")", "(default " + std::to_string(defaultExpiryDays) + ";",
          "(default " + std::to_string(defaultKeptReleases) + ","})
        EXPECT_NE(usageText().find(said), std::string::npos) << said;
}

TEST(CommandLine, GivesTheShareARolloutStartsAt)
{
    const std::vector<std::pair<std::vector<std::string>, unsigned long>> shares = {
        {{"--sign", "k", "--rollout-days", "6", "tree", "channel"}, 142857},  // seven groups a day apart
        {{"--sign", "k", "--rollout", "0.0001", "tree", "channel"}, 1},
        {{"rollout", "latest", "2.5", "--rollout-days", "4", "--sign", "k"}, 25000},
        {{"rollout", "latest", "100", "--sign", "k"}, 1000000},
    };
    for (const auto& [words, share] : shares) {
        Options options;
        std::string failure;
        ASSERT_TRUE(parse(words, options, failure)) << failure;
        EXPECT_TRUE(options.rollout.given || options.command == Options::Command::rollout);
        EXPECT_EQ(options.rollout.sharePpm, share) << words[2];
    }
}
