#pragma once

#include "launcher/http/answer.h"

#include <string>

// Where on the update server one run looks: formed in main from the
// process-wide strings, and handed to every step below it.
struct UpdateChannel {
    ServerAddress server;
    std::string name;          // the channel, as its signed release names it
    std::string directory;     // its request path, ending in "/"
    std::string lockFile;      // under `directory`
    std::string manifestFile;  // under `directory`
};
