#pragma once

#include <string>

// The manifest comes from the network: a path is written only when it
// stays inside the game directory and names a file that Windows can hold
// (the channel serves Windows players, whatever builds the launcher).
// Refuses the empty path, a leading "/", an empty or ".." segment, control
// bytes, any of \ : < > " | ? *, a segment ending in "." or a blank, and the
// device names CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 in any letter case,
// alone or with an extension.
bool isSafeManifestPath(const std::string& path);
