#pragma once

#include <string>

// What an uninstall did, for its closing line.
struct UninstallTally {
    unsigned int removed = 0;     // files the launcher installed or kept, now gone
    unsigned int left = 0;        // the player's files, told one by one
    unsigned int notRemoved = 0;  // files that should have gone and could not
    bool installedKnown = false;  // a record named the installed files
};

// Everything a player sees of an uninstall, which asks no server and keeps
// no log: an update's Console has none of these events, nor this any of its.
class UninstallConsole {
public:
    virtual ~UninstallConsole() = default;
    // `path` (a local name) stays: the launcher did not put it there as it is now.
    virtual void fileLeft(const std::string& path) = 0;
    // `path` should have gone and could not: `cause` is the errno.
    virtual void fileNotRemoved(const std::string& path, int cause) = 0;
    // Another launcher holds the game directory: the uninstall does not start.
    virtual void uninstallBlocked() = 0;
    virtual void uninstallEnded(const UninstallTally& tally) = 0;
};
