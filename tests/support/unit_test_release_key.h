#pragma once

#include "publisher/keys/secret_key.h"

// A key made for this process, which the runs that unit tests drive trust:
// tests sign with it what the run under test must accept.
const SecretKey& unitTestReleaseKey();
