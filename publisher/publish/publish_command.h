#pragma once

#include "publisher/command/command_line.h"
#include "publisher/folder/channel_directory.h"
#include "publisher/folder/exclusive_publish.h"
#include "publisher/signing/signing.h"
#include "publisher/source/source_tree.h"

#include <chrono>
#include <functional>
#include <string>

// `orn-publish [--sign KEY] SOURCE CHANNEL` and `--sign KEY --resign
// CHANNEL`: every check is made before anything changes; each gives the exit
// status the usage text tells.
int publishCommand(const Options& options);
int resignCommand(const Options& options);

// Fills `tree` once the channel is held, before anything changes; the
// reason to refuse, else empty.
using HeldTree = std::function<std::string(const ChannelDirectory& channel, SourceTree& tree)>;

// Publishes `tree` (or what `heldTree` makes) into `channel` as a publish
// does, from `start`: every check, the lock, the copy, the release.
int publishSourceTree(const Options& options, const std::string& channel, SourceTree tree,
                      std::chrono::steady_clock::time_point start, const HeldTree& heldTree = nullptr);

// Reads the source tree of a publish, and says what it holds that the launcher could not use.
bool readCheckedTree(const Options& options, const std::string& channel, SourceTree& tree);

// What a publish and a re-sign check once the channel is held (acquired
// here), before anything changes: the tree `heldTree` makes, what the
// channel holds, the signing settled, and a rollout that is on, which only
// the commands that end or change it go past. An exit status when the run
// cannot go on, else holdingGoesOn.
inline constexpr int holdingGoesOn = -1;
int holdChannel(const Options& options, const std::string& channel, SourceTree& tree, const HeldTree& heldTree,
                ExclusivePublish& exclusive, ReleaseSigning& signing);

// Says that nothing in `channel` was changed, and why (exit status 2).
int refusePublish(const std::string& reason, const std::string& channel);
// Another publish holds a channel: try again later (exit status 1).
int heldElsewhere(const std::string& failure);
