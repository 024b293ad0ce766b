#pragma once

#include <string>
#include <unordered_map>

// What an unsigned channel's updates put in place, kept in
// "ORN_Launcher.installed" so that an uninstall removes the game's files and
// nothing else: "orn-installed 1", then one manifest line (MD5, two blanks,
// path) per file. Written when the game is whole: the manifest's listing,
// and a file an earlier listing named that the manifest no longer does
// (a launcher without keys leaves retired files in place) as long as it is
// there. Only ever narrows what an uninstall removes: each file still has
// to hold exactly the listed bytes.

// `listed` (path to digest) with the entries of `before` that it no longer
// lists in any case and that `stillThere` says are on disk.
std::unordered_map<std::string, std::string>
installedListingAfter(const std::unordered_map<std::string, std::string>& before,
                      const std::unordered_map<std::string, std::string>& listed,
                      bool (*stillThere)(const std::string&));

// Puts the listing after `listed` in place; a record that already holds it is not written again.
bool recordInstalledListing(const std::unordered_map<std::string, std::string>& listed);

// False when there is no record or it is not one: then nothing is known to be installed.
bool readInstalledListing(std::unordered_map<std::string, std::string>& listed);
