#pragma once

#include <SFML/Network/Http.hpp>

#include <string>

// Waits while the server's lock file says an update is being published,
// then fetches the manifest with `manifestRequest`. Leaves the console line
// "Checking for updated files..." open on success. False when the run must
// give up; the reason is already on the console.
bool fetchManifest(sf::Http& http, const sf::Http::Request& manifestRequest, sf::Http::Response& response,
                   std::string& manifestText);
