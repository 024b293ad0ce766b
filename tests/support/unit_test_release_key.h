#pragma once

#include "publisher/keys/secret_key.h"

// The key that the unit tests' build constants trust, made for this process:
// tests sign with it what the run under test must accept.
const SecretKey& unitTestReleaseKey();
