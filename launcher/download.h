#pragma once

#include "channel/release.h"
#include "launcher/download_progress.h"

#include <SFML/Network/Http.hpp>

#include <string>

// Sends a request; whatever the HTTP client throws (std::bad_alloc from a
// huge or endless body, say) makes it a failed request instead of ending
// the process. False leaves a response whose status is a failure code.
bool sendRequest(sf::Http& http, const sf::Http::Request& request, sf::Http::Response& response);

// True when the answer is 200 and its body is whole: where the response
// has a Content-Length field, the body has exactly that length (the HTTP
// client takes a connection dropped mid-body for a complete answer).
bool isCompleteDownload(const sf::Http::Response& response);

// Fetches `uri` (the manifest entry `path`) in pieces of downloadPieceBytes
// through range requests (or whole from a server that ignores ranges) into
// a partial file beside `localName`, and puts it in place only when every
// byte arrived and their MD5 equals `expectedDigest` (hex, letter case
// ignored). With a signed entry, it also never asks past the signed size,
// reads no answer longer than that, and requires the signed size and
// SHA-256. A transfer that breaks off keeps its whole pieces for the next
// start to resume; anything untrustworthy is discarded. On failure the file
// under `localName` stays as it was. `progress`, when given, is shown.
bool downloadFile(sf::Http& http, const std::string& uri, const std::string& path, const std::string& expectedDigest,
                  const ReleaseEntry* signedEntry, const std::string& localName, DownloadProgress* progress);

// Bounds the memory a download takes: the HTTP client holds a few copies
// of each answer's body.
constexpr unsigned long long downloadPieceBytes = 16ULL << 20;
