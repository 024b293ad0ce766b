#pragma once

#include <string>

// The manifest comes from the network: a path is written only when it
// stays inside the game directory. Refuses the empty path, a leading "/",
// any ".." segment, "\", ":" and control bytes.
bool isSafeManifestPath(const std::string& path);

// Creates the missing directories above a safe path, inside the game
// directory. False when one cannot be made.
bool createParentDirectories(const std::string& path);
