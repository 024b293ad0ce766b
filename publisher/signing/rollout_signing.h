#pragma once

#include "channel/rollout.h"
#include "publisher/signing/signing.h"

#include <string>
#include <vector>

// Signs a rollout in a channel held exclusively: `staged` (the staged
// release's lines) one serial above signing.serial, with its own first line,
// stored as an object; then the channel's release, `outer` (the current
// release's lines) as signing.serial, naming that object with `rollout`'s
// share and schedule. The serial record takes the staged serial before the
// release changes. Refuses before anything is written unless every object
// `staged` names is whole. Then the objects of both are kept (retention's
// warnings in `warnings`) and checked whole.
bool signRollout(const ChannelDirectory& channel, ReleaseSigning& signing, Release outer, Release staged,
                 Rollout rollout, std::vector<std::string>& warnings, std::string& failure);

// The staged release's serial that signRollout signs.
unsigned long long stagedSerialOf(const ReleaseSigning& signing);
