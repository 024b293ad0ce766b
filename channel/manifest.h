#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The channel's manifest ("md5sums"): an md5sum listing, one line per file,
// a 32-character digest, a blank, a mode character (' ' or '*') and the path.

struct ManifestEntry {
    std::string md5;
    std::string path;
    std::size_t lineNumber = 0;  // counted from 1: the line the entry starts on
    // More than one when a line feed in the digest field, or as the character
    // after it, runs the entry on into the next line.
    std::size_t lines = 1;
};

struct Manifest {
    std::vector<ManifestEntry> entries;                    // in manifest order, a path listed twice included
    std::unordered_map<std::string, std::string> digests;  // path -> digest; a later line for a path wins
    // Reading stops at the first line that does not fit: it and every line
    // after it, up to lineCount, are not taken. 0 when every line was taken.
    std::size_t refusedFrom = 0;
    std::size_t lineCount = 0;  // lines as a line reader splits them: a last one without a line feed counts
};

// Reads the text exactly as launchers in players' hands do: the digest field
// is not checked for hex, the character after its blank is never examined,
// and a path runs to its line feed, so a CR before that stays in the path.
Manifest parseManifest(const std::string& text);

// The same reading, one entry at a time and nothing kept: for a text that
// could hold millions of lines. Fills in refusedFrom and lineCount only.
using ManifestVisitor =
    std::function<void(std::string_view md5, std::string_view path, std::size_t lineNumber, std::size_t lines)>;
Manifest walkManifest(const std::string& text, const ManifestVisitor& visit);

// One line of the manifest: digest, two blanks, path.
std::string manifestLine(const std::string& md5Digest, const std::string& path);
