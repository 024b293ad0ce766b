#pragma once

#include "publisher/command/command_line.h"

// `orn-publish --sign KEY --rollout PERCENT SOURCE CHANNEL`: publishes the
// tree as a staged release, in by-hash/ alone, beside the channel's current
// release, which every other game directory keeps.
int stagedPublishCommand(const Options& options);

// `orn-publish rollout CHANNEL PERCENT|--halt|--complete --sign KEY`:
// changes the share of the rollout that is on, or makes its staged release
// the channel's release.
int rolloutCommand(const Options& options);
