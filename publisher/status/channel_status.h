#pragma once

#include "publisher/signing/signing.h"

#include <filesystem>

// `orn-publish status`: prints the channel's serial, expiry, key id, file
// count, whether its release verifies (under the public half of the
// request's secret key and its trusted keys) and whether every file matches
// it. Gives 0 when all is well, 1 when the release does not verify, a file
// does not match, or it expires within `warnDays`, 2 when the key is refused.
int statusCommand(const std::filesystem::path& channel, const SigningRequest& keys, unsigned warnDays);
