#pragma once

#include "publisher/signing/signing.h"

#include <string>
#include <vector>

// What the command takes, its defaults and its exit statuses.
std::string usageText();

// A staged rollout asked for: by a publish (--rollout, --rollout-days) or the rollout command.
struct RolloutRequest {
    bool given = false;
    bool shareGiven = false;
    unsigned long sharePpm = 0;  // parts per million; where a schedule starts
    unsigned days = 0;           // 0: a fixed share
    bool halt = false;
    bool complete = false;
};

struct Options {
    enum class Command { publish, resign, promote, rollback, rollout, status, adoption, keygen, help, version };
    Command command = Command::publish;
    unsigned holdLockSeconds = 0;
    bool newChannel = false;
    SigningRequest signing;  // no secret key file: an unsigned publish
    unsigned warnDays = expiryWarningDays;
    unsigned long long rollbackSerial = 0;  // rollback --to SERIAL
    RolloutRequest rollout;
    std::vector<std::string> operands;
};

// False, with `failure` naming the argument and why, for anything the usage
// text does not allow.
bool parseOptions(int argc, char** argv, Options& options, std::string& failure);
