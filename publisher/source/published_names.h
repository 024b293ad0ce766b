#pragma once

#include <string>

// Why a file of the release tree cannot be published under `path`, a
// "/"-separated path below the tree ("" when it can): a name the launcher
// refuses or Windows cannot hold, or one that the channel, the launcher or
// this tool keeps for its own files.
std::string nameProblem(const std::string& path);
