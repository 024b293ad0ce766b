#pragma once

#include "launcher/http/answer.h"

#include <string>

// Where on the update server one run looks, handed to every step below it.
struct UpdateChannel {
    ServerAddress server;
    std::string name;          // the channel, as its signed release names it
    std::string directory;     // its request path, ending in "/"
    std::string lockFile;      // under `directory`
    std::string manifestFile;  // under `directory`
};

// The channel a run asks for on `server`: "latest", or the one argument
// given; with two or more arguments all are ignored.
UpdateChannel updateChannelFrom(int argc, char** argv, const ServerAddress& server);
