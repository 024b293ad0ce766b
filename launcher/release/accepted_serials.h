#pragma once

#include "channel/channel_names.h"

#include <string>

// The highest release serial this game directory has accepted, per channel,
// kept in "ORN_Launcher.releases" (one "SERIAL CHANNEL" line each) so that
// an older signed release served later is refused. A missing or unreadable
// file counts as none seen.
unsigned long long highestAcceptedSerial(const std::string& channel);

// Raises the channel's serial, through a temporary file and a rename.
bool recordAcceptedSerial(const std::string& channel, unsigned long long serial);

inline constexpr const char* acceptedSerialsFileName = launcherAcceptedSerialsName;
