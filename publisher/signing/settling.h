#pragma once

#include "publisher/signing/signing.h"

#include <string>

// The serial, expiry and retention of the release about to be signed, from
// the request, the channel's current release and the serial record (set in
// `signing` already), whether the channel's lock is up, and the time `now`
// in UTC seconds. False, with the reason, when no serial is safe to sign.
bool settleSigning(const SigningRequest& request, bool lockUp, long long now, ReleaseSigning& signing,
                   std::string& failure);
