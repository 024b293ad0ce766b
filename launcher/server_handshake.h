#pragma once

#include "launcher/update_channel.h"

#include <string>

// Waits while the server's lock file says an update is being published.
// False when the run must give up; the reason is already on the console.
bool waitWhileLocked(const UpdateChannel& channel);

// Fetches the manifest from `uri` (the channel's manifest file, or its
// content-addressed copy). Leaves the console line "Checking for updated
// files..." open on success. False when the run must give up; the reason is
// already on the console.
// " Connected", then the open "Checking for updated files..." line.
void reportConnected();
bool fetchManifest(const UpdateChannel& channel, const std::string& uri, std::size_t limit, std::string& manifestText);

// Completes the open line when the run gives up because of what the server sent.
void reportServerTrouble();
