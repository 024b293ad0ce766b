#pragma once

#include "channel/channel_names.h"

#include <string>
#include <unordered_map>

// A download broken off (the connection dropped, the server failed a piece,
// the process was killed) keeps its whole pieces in "<local name>.orn-partial"
// and this record of what they are part of in "<local name>.orn-resume", so
// that the next start continues where it stopped. Neither is ever trusted:
// the kept bytes are hashed again, and the whole file's digest decides.
struct ResumeRecord {
    std::string path;    // the manifest path
    std::string digest;  // its manifest digest
    unsigned long long total = 0;
    std::string validatorField;  // "ETag", else "Last-Modified"; empty when the server gave neither
    std::string validator;
};

std::string partialNameFor(const std::string& localName);
bool readResumeRecord(const std::string& localName, ResumeRecord& record);
bool writeResumeRecord(const std::string& localName, const ResumeRecord& record);
void discardPartial(const std::string& localName);

// At start-up: removes the partial downloads (in the top level and libs/)
// whose path the manifest no longer lists or lists with another digest, and
// partial files without a usable record.
void removeStalePartials(const std::unordered_map<std::string, std::string>& manifestDigests);
