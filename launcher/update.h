#pragma once

#include "launcher/console/console.h"
#include "launcher/http/transport.h"
#include "launcher/update_channel.h"
#include "launcher/update_retrieval.h"

// The channel this run asks for. A channel named as the one argument sets
// the process-wide channelName and remoteDir, which are read only here.
UpdateChannel updateChannelFrom(int argc, char** argv);

// The whole run up to the hand-over: from "Connecting to server..." through
// the lock, the signed release, the manifest and the downloads to every file
// in place, or the reason the run gives up, told on `console`. Every request
// goes through `transport`.
UpdateOutcome update(const UpdateChannel& channel, Transport& transport, Console& console);
