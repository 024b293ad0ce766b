#pragma once

#include "channel/rollout.h"

#include <string>

// What players get from a rollout just signed, as the deployer is told.
std::string rolloutText(const Rollout& rollout, unsigned long long stagedSerial, unsigned long long currentSerial,
                        long long now);
