#pragma once

#include <SFML/Network/Http.hpp>

#include <string>

// Works out which listed files are missing or differ, downloads them beside
// the launcher (its own files as name + ".new") and hands over to
// patchAndLaunch, which does not return. Returns 1 when any download failed.
int retrieveUpdates(sf::Http& http, sf::Http::Request& request, sf::Http::Response& response,
                    const std::string& manifestText);
