#pragma once

#include "publisher/command/command_line.h"

// `orn-publish [--sign KEY] SOURCE CHANNEL` and `--sign KEY --resign
// CHANNEL`: every check is made before anything changes; each gives the exit
// status the usage text tells.
int publishCommand(const Options& options);
int resignCommand(const Options& options);
