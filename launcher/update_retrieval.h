#pragma once

#include "channel/release.h"

#include <SFML/Network/Http.hpp>

#include <string>

// Works out which listed files are missing or differ, downloads them beside
// the launcher (its own files as name + ".new"), each verified against its
// manifest digest (and, under a signed `release`, its signed size and
// SHA-256), and hands over to patchAndLaunch, which does not return.
// Returns 1 when any download failed.
int retrieveUpdates(sf::Http& http, const std::string& manifestText, const Release* release);
