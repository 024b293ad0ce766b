#pragma once

#include <SFML/Network/Http.hpp>

#include <string>

// True when the answer is 200 and its body is whole: where the response
// has a Content-Length field, the body has exactly that length (the HTTP
// client takes a connection dropped mid-body for a complete answer).
bool isCompleteDownload(const sf::Http::Response& response);

// Writes the bytes to the file in binary, creating or truncating it; true
// only when everything was written and the file closed without error.
bool saveFile(const std::string& localName, const std::string& bytes);
