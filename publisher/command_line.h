#pragma once

#include "publisher/signing.h"

#include <string>
#include <vector>

extern const char* const usageText;

struct Options {
    enum class Command { publish, resign, status, keygen };
    Command command = Command::publish;
    unsigned holdLockSeconds = 0;
    bool newChannel = false;
    SigningRequest signing;  // no secret key file: an unsigned publish
    unsigned warnDays = expiryWarningDays;
    std::vector<std::string> operands;
};

// False for anything the usage text does not allow.
bool parseOptions(int argc, char** argv, Options& options);
