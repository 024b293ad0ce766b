#include "publisher/command/command_line.h"

#include "channel/rollout.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdlib>
#include <set>

namespace {
std::string signingOptionsText();
}  // namespace

// The help text lines up as a terminal shows it.
// clang-format off
std::string usageText()
{
    return std::string(
        "usage: orn-publish [--hold-lock SECONDS] [--new-channel] [--sign SECRET_KEY_FILE [SIGNING OPTIONS]] SOURCE\n"
        "                   CHANNEL_DIR\n"
        "       orn-publish --sign SECRET_KEY_FILE [SIGNING OPTIONS] --resign CHANNEL_DIR\n"
        "       orn-publish promote FROM_CHANNEL_DIR TO_CHANNEL_DIR --sign SECRET_KEY_FILE [SIGNING OPTIONS]\n"
        "       orn-publish rollback CHANNEL_DIR --to SERIAL --sign SECRET_KEY_FILE [SIGNING OPTIONS]\n"
        "       orn-publish --sign SECRET_KEY_FILE [SIGNING OPTIONS] --rollout PERCENT [--rollout-days N] SOURCE\n"
        "                   CHANNEL_DIR\n"
        "       orn-publish rollout CHANNEL_DIR PERCENT|--halt|--complete [--rollout-days N] --sign SECRET_KEY_FILE\n"
        "                   [SIGNING OPTIONS]\n"
        "       orn-publish status CHANNEL_DIR [--key SECRET_KEY_FILE] [--trust KEYID:BASE64]... [--warn-days N]\n"
        "       orn-publish adoption CHANNEL_DIR ACCESS_LOG... [--key SECRET_KEY_FILE] [--trust KEYID:BASE64]...\n"
        "       orn-publish keygen SECRET_KEY_FILE\n"
        "       orn-publish --help | --version\n"
        "  SOURCE       a folder laid out as the game directory should be (top level and libs/)\n"
        "  CHANNEL_DIR  the web server's folder for one channel, e.g. <web root>/~qel/ORN/windows/latest\n"
        "  --hold-lock  keep the lock up this long before changing files (launchers wait meanwhile)\n"
        "  --new-channel  CHANNEL_DIR is to become a channel although it is not empty, or although other\n"
        "               channels sit beside it (without it, either is taken for a wrong or mistyped folder)\n"
        "  --sign       also write the channel's signed release with this secret key (mode 0600)\n"
        "  --resign     sign the channel's current release anew (new serial and expiry), copying nothing;\n"
        "               only when it verifies and every file is still what it signed\n"
        "  promote      publish exactly the files of FROM's verified release into TO, as TO's next serial\n"
        "               (--hold-lock and --new-channel apply as to a publish)\n"
        "  rollback     publish again the files of the channel's earlier release SERIAL, from the objects\n"
        "               still kept in by-hash/ (see --keep-releases), as the next serial\n"
        "  --rollout    publish SOURCE as a staged release that only PERCENT of game directories take (e.g. 5,\n"
        "               2.5); the others keep the channel's current release, which stays as it is. Only into a\n"
        "               signed channel, as objects in by-hash/ alone, and never while a rollout is on\n"
        "  --rollout-days N  the share grows in whole steps a day apart from the signing, to 100% after N days\n"
        "               (without --rollout it starts at 100/(N+1)%)\n"
        "  rollout      change the rollout that is on: PERCENT (or --rollout-days) sets the share, --halt is\n"
        "               0% (no one else takes it; those who took it keep it), --complete publishes the staged\n"
        "               release as the channel's release for everyone. A publish, promote into the channel and\n"
        "               --resign wait for --complete or rollback while a rollout is on\n"
        "  status       show the channel's release; exit 1 when it does not verify, a file does not match\n"
        "               or it expires within --warn-days (default ") + std::to_string(expiryWarningDays) + ")\n"
        "  adoption     per UTC day and kept release, the launcher starts that asked for it and how many\n"
        "               were answered with errors, from the web server's access logs (combined format, plain\n"
        "               or gzipped); with --key or --trust, also the channel's verified release and the one\n"
        "               it stages, by the serials they sign now\n"
        "  keygen       make a key pair: writes the secret key (mode 0600), prints the public key\n" +
        signingOptionsText();
}

namespace {

std::string signingOptionsText()
{
    return std::string(
        "SIGNING OPTIONS\n"
        "  --expires DAYS|never  launchers refuse the release this many days after signing (default ") +
        std::to_string(defaultExpiryDays) + ";\n"
        "               --resign keeps the last choice)\n"
        "  --serial N   the release's serial (default: the signing time in UTC seconds, or one above both\n"
        "               the channel's verified release and the highest this publisher signed for the channel,\n"
        "               kept in $XDG_STATE_HOME/orn-publish, when that is higher)\n"
        "  --trust KEYID:BASE64  another public key whose signature on the current release is trusted\n"
        "               (e.g. the previous key when rotating); repeatable\n"
        "  --keep-releases N  a publish keeps in by-hash/ what the last N releases signed name (default " +
        std::to_string(defaultKeptReleases) + ",\n"
        "               at least 1), for players whose caches hold an older release; the rest is removed\n"
        "exit status: 0 published; 1 failed after the lock was raised or a staged file was written (run the\n"
        "             same command again), or another publish holds the channel; 2 refused, nothing changed; 128+N stopped by\n"
        "             signal N (SIGINT, SIGTERM, SIGHUP): what was done, and what to do, is said\n";
}

}  // namespace
// clang-format on

namespace {

bool parseNumber(const char* text, unsigned long long largest, unsigned long long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return *text >= '0' && *text <= '9' && *end == '\0' && errno == 0 && value <= largest;
}

// The numbers each numeric option takes.
struct NumberRule {
    const char* option;
    const char* name;
    unsigned long long least;
    unsigned long long most;
};

const NumberRule numberRules[] = {
    {"--hold-lock", "SECONDS", 0, 86400},           {"--expires", "DAYS", 1, 36500},
    {"--serial", "N", 1, largestReleaseSerial},     {"--warn-days", "N", 0, 36500},
    {"--keep-releases", "N", 1, mostKeptReleases},  {"--to", "SERIAL", 1, largestReleaseSerial},
    {"--rollout-days", "N", 1, longestRolloutDays},
};

const char* const shareRule = "PERCENT must be a share from 0 to 100, at most four decimals (e.g. 5 or 2.5)";

// One option's value; false, with the reason, when it is not one that option takes.
bool takeValue(const std::string& option, const std::string& value, Options& options, std::string& failure)
{
    SigningRequest& signing = options.signing;
    ReleaseKey key;
    failure = option + " " + value + ": ";
    if (option == "--sign" || option == "--key") {
        signing.secretKeyFile = value;
        failure += "an empty file name";
        return !value.empty();
    }
    if (option == "--trust") {
        failure += "not a public key of the form KEYID:BASE64 (as keygen prints it)";
        if (!parseReleaseKey(value, key))
            return false;
        signing.trustedKeys.push_back(key);
        return true;
    }
    options.rollout.given = options.rollout.given || option == "--rollout-days";
    if (option == "--rollout") {
        options.rollout.given = options.rollout.shareGiven = true;
        failure += shareRule;
        return parseSharePercent(value, options.rollout.sharePpm);
    }
    signing.expiryGiven = signing.expiryGiven || option == "--expires";
    signing.keepGiven = signing.keepGiven || option == "--keep-releases";
    if (option == "--expires" && value == "never")
        return true;
    const NumberRule* rule = std::find_if(std::begin(numberRules), std::end(numberRules),
                                          [&option](const NumberRule& known) { return option == known.option; });
    unsigned long long number = 0;
    failure += std::string(rule->name) + " must be a whole number from " + std::to_string(rule->least) + " to " +
               std::to_string(rule->most) + (option == "--expires" ? ", or never" : "");
    if (!parseNumber(value.c_str(), rule->most, number) || number < rule->least)
        return false;
    if (option == "--hold-lock")
        options.holdLockSeconds = static_cast<unsigned>(number);
    else if (option == "--expires")
        signing.expiresDays = static_cast<unsigned>(number);
    else if (option == "--serial")
        signing.serial = number;
    else if (option == "--to")
        options.rollbackSerial = number;
    else if (option == "--warn-days")
        options.warnDays = static_cast<unsigned>(number);
    else if (option == "--rollout-days")
        options.rollout.days = static_cast<unsigned>(number);
    else
        signing.keepReleases = static_cast<unsigned>(number);
    return true;
}

// Why the rollout command's words, or a publish's --rollout and
// --rollout-days, do not go together; empty when they do.
std::string rolloutProblem(Options& options, bool signs)
{
    RolloutRequest& rollout = options.rollout;
    const std::size_t operands = options.operands.size();
    if (options.command != Options::Command::rollout)
        return !rollout.given ? ""
               : !signs       ? "--rollout and --rollout-days publish a staged release, which is signed: give --sign "
                                "SECRET_KEY_FILE"
               : options.command == Options::Command::resign
                   ? "--resign signs the rollout that is on anew as it is; orn-publish rollout changes it"
               : options.holdLockSeconds != 0
                   ? "--hold-lock does not apply: a staged publish changes no file that launchers wait for"
                   : "";
    if (operands == 2 && !parseSharePercent(options.operands[1], rollout.sharePpm))
        return options.operands[1] + ": " + shareRule;
    rollout.shareGiven = operands == 2;
    const int asked = (rollout.shareGiven ? 1 : 0) + (rollout.halt ? 1 : 0) + (rollout.complete ? 1 : 0);
    return !signs                          ? "rollout signs: give --sign SECRET_KEY_FILE"
           : operands == 0 || operands > 2 ? "rollout takes one CHANNEL_DIR, and PERCENT or --halt or --complete"
           : asked > 1 || (asked == 0 && rollout.days == 0) ? "rollout takes one of PERCENT, --halt and --complete"
           : rollout.days != 0 && (rollout.halt || rollout.complete)
               ? "--rollout-days goes with a share, not with --halt or --complete"
           : options.holdLockSeconds != 0 && !rollout.complete ? "--hold-lock applies to rollout --complete alone"
                                                               : "";
}

// Whether the options and operands suit the command.
bool checkCommand(Options& options, std::string& failure)
{
    if (!(failure = rolloutProblem(options, !options.signing.secretKeyFile.empty())).empty())
        return false;
    if (options.rollout.days != 0 && !options.rollout.shareGiven)
        options.rollout.sharePpm = rolloutWholeShare / (options.rollout.days + 1);
    const SigningRequest& signing = options.signing;
    const bool signs = !signing.secretKeyFile.empty();
    const std::size_t operands = options.operands.size();
    switch (options.command) {
    case Options::Command::status:
        failure = "status takes one CHANNEL_DIR";
        return operands == 1;
    case Options::Command::adoption:
        failure = "adoption takes CHANNEL_DIR and at least one ACCESS_LOG";
        return operands >= 2;
    case Options::Command::resign:
        failure = !signs ? "--resign signs: give --sign SECRET_KEY_FILE"
                  : options.holdLockSeconds != 0 || signing.keepGiven || options.newChannel
                      ? "--resign copies nothing: --hold-lock, --keep-releases and --new-channel do not apply"
                      : "--resign takes one CHANNEL_DIR";
        return signs && options.holdLockSeconds == 0 && !signing.keepGiven && !options.newChannel && operands == 1;
    case Options::Command::rollout:
        return true;
    case Options::Command::promote:
    case Options::Command::rollback: {
        const bool promotes = options.command == Options::Command::promote;
        const std::string word = promotes ? "promote" : "rollback";
        failure = !signs                        ? word + " publishes a signed release: give --sign SECRET_KEY_FILE"
                  : promotes                    ? "promote takes FROM_CHANNEL_DIR and TO_CHANNEL_DIR"
                  : options.rollbackSerial == 0 ? "rollback needs --to SERIAL, the earlier release to publish again"
                                                : "rollback takes one CHANNEL_DIR";
        return signs && operands == (promotes ? 2u : 1u) && (promotes || options.rollbackSerial != 0);
    }
    default:
        break;
    }
    if ((signing.expiryGiven || signing.serial != 0 || !signing.trustedKeys.empty() || signing.keepGiven) && !signs) {
        failure = "--expires, --serial, --trust and --keep-releases are signing options: give --sign SECRET_KEY_FILE";
        return false;
    }
    if (operands == 2)
        return true;
    failure = operands < 2 ? "give SOURCE and CHANNEL_DIR"
                           : "one SOURCE and one CHANNEL_DIR, and " + options.operands[2] + " besides";
    return false;
}

// `orn-publish keygen FILE`, `--help` and `--version`: a word alone; false when argv is none of them.
bool takeLoneWord(int argc, char** argv, Options& options, std::string& failure)
{
    const std::string word = argc > 1 ? argv[1] : "";
    if (word == "--help" || word == "-h" || word == "--version") {
        options.command = word == "--version" ? Options::Command::version : Options::Command::help;
        return true;
    }
    if (word != "keygen")
        return false;
    options.command = Options::Command::keygen;
    failure = "keygen takes one SECRET_KEY_FILE";
    if (argc == 3)
        options.operands.push_back(argv[2]);
    return true;
}

}  // namespace

bool parseOptions(int argc, char** argv, Options& options, std::string& failure)
{
    if (takeLoneWord(argc, argv, options, failure))
        return options.command != Options::Command::keygen || options.operands.size() == 1;
    int first = 1;
    std::set<std::string> valued = {"--hold-lock", "--sign", "--expires", "--serial", "--trust", "--keep-releases"};
    const std::string word = argc > 1 ? argv[1] : "";
    if (word == "status" || word == "adoption") {
        options.command = word == "status" ? Options::Command::status : Options::Command::adoption;
        valued = {"--key", "--trust"};
        if (word == "status")
            valued.insert("--warn-days");
        first = 2;
    } else if (word == "rollout") {
        options.command = Options::Command::rollout;
        valued.insert("--rollout-days");
        first = 2;
    } else if (word == "promote" || word == "rollback") {
        options.command = word == "promote" ? Options::Command::promote : Options::Command::rollback;
        if (word == "rollback")
            valued.insert("--to");
        first = 2;
    }
    const bool publishes = options.command == Options::Command::publish;
    const bool rollsOut = options.command == Options::Command::rollout;
    if (publishes)
        valued.insert({"--rollout", "--rollout-days"});
    const bool copies = publishes || options.command == Options::Command::promote;
    for (int i = first; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--resign" && publishes) {
            options.command = Options::Command::resign;
        } else if ((option == "--halt" || option == "--complete") && rollsOut) {
            (option == "--halt" ? options.rollout.halt : options.rollout.complete) = true;
        } else if (option == "--new-channel" && copies) {
            options.newChannel = true;
        } else if (valued.count(option) != 0) {
            failure = option + ": needs a value";
            if (++i == argc || !takeValue(option, argv[i], options, failure))
                return false;
        } else if (option.compare(0, 2, "--") == 0) {
            failure = option + ": no such option" + (publishes ? "" : " of " + word);
            return false;
        } else {
            options.operands.push_back(option);
        }
    }
    options.signing.resign = options.command == Options::Command::resign;
    return checkCommand(options, failure);
}
