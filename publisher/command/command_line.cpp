#include "publisher/command/command_line.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdlib>
#include <set>

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
        "       orn-publish status CHANNEL_DIR [--key SECRET_KEY_FILE] [--trust KEYID:BASE64]... [--warn-days N]\n"
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
        "  status       show the channel's release; exit 1 when it does not verify, a file does not match\n"
        "               or it expires within --warn-days (default ") + std::to_string(expiryWarningDays) + ")\n"
        "  keygen       make a key pair: writes the secret key (mode 0600), prints the public key\n"
        "SIGNING OPTIONS\n"
        "  --expires DAYS|never  launchers refuse the release this many days after signing (default " +
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
        "exit status: 0 published; 1 failed after the lock was raised (run the same command again),\n"
        "             or another publish holds the channel; 2 refused, nothing changed; 128+N stopped by\n"
        "             signal N (SIGINT, SIGTERM, SIGHUP): what was done, and what to do, is said\n";
}
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
    {"--hold-lock", "SECONDS", 0, 86400},          {"--expires", "DAYS", 1, 36500},
    {"--serial", "N", 1, largestReleaseSerial},    {"--warn-days", "N", 0, 36500},
    {"--keep-releases", "N", 1, mostKeptReleases}, {"--to", "SERIAL", 1, largestReleaseSerial},
};

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
    else
        signing.keepReleases = static_cast<unsigned>(number);
    return true;
}

// Whether the options and operands suit the command.
bool checkCommand(const Options& options, std::string& failure)
{
    const SigningRequest& signing = options.signing;
    const bool signs = !signing.secretKeyFile.empty();
    const std::size_t operands = options.operands.size();
    switch (options.command) {
    case Options::Command::status:
        failure = "status takes one CHANNEL_DIR";
        return operands == 1;
    case Options::Command::resign:
        failure = !signs ? "--resign signs: give --sign SECRET_KEY_FILE"
                  : options.holdLockSeconds != 0 || signing.keepGiven || options.newChannel
                      ? "--resign copies nothing: --hold-lock, --keep-releases and --new-channel do not apply"
                      : "--resign takes one CHANNEL_DIR";
        return signs && options.holdLockSeconds == 0 && !signing.keepGiven && !options.newChannel && operands == 1;
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
    if (word == "status") {
        options.command = Options::Command::status;
        valued = {"--key", "--trust", "--warn-days"};
        first = 2;
    } else if (word == "promote" || word == "rollback") {
        options.command = word == "promote" ? Options::Command::promote : Options::Command::rollback;
        if (word == "rollback")
            valued.insert("--to");
        first = 2;
    }
    const bool publishes = options.command == Options::Command::publish;
    const bool copies = publishes || options.command == Options::Command::promote;
    for (int i = first; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--resign" && publishes) {
            options.command = Options::Command::resign;
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
