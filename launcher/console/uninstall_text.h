#pragma once

#include "launcher/console/uninstall_console.h"

#include <string>

// What an uninstall tells the player, on the console and in any log, word for word.
std::string fileLeftText(const std::string& path);
std::string fileNotRemovedText(const std::string& path, int cause);
inline constexpr const char* uninstallBlockedText =
    "Another launcher is updating this game: close it, then uninstall again.";
std::string uninstallEndedText(const UninstallTally& tally);
