#pragma once

#include "launcher/console/console.h"
#include "launcher/http/transport.h"
#include "launcher/update_channel.h"

#include <cstddef>
#include <string>

// Waits while the server's lock file says an update is being published,
// asking again every `pollMilliseconds`. False when the run must give up;
// the reason is already on the console.
bool waitWhileLocked(const UpdateChannel& channel, unsigned int pollMilliseconds, Transport& transport,
                     Console& console);

// Fetches the manifest from `uri` (the channel's manifest file, or its
// content-addressed copy), of the next server while one fails, then tells
// the console the server answered. False when the run must give up; the
// reason is already on the console.
bool fetchManifest(Transport& transport, Console& console, const std::string& uri, std::size_t limit,
                   std::string& manifestText);

// The manifest fetched from the server asked now, whole within `limit` (or read one byte past a
// signed size), with no word on the console.
bool fetchManifestText(Transport& transport, const std::string& uri, std::size_t limit, std::string& manifestText);

// Tells that the server answered and the check begins; without `fetched`, the server's trouble. Returns `fetched`.
bool tellServerAnswered(Console& console, bool fetched);
