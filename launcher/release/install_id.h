#pragma once

#include <string>

// This game directory's install id (see channel/rollout.h), read from its
// file, or made from the system's random source when the file is missing or
// damaged, and kept for the next start. Never sent to any server.
struct InstallId {
    std::string id;
    bool madeNow = false;
    bool kept = true;  // false when the file could not be written: this run alone uses it
};
InstallId installIdOfGameDirectory();
