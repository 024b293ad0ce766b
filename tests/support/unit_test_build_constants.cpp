// The build constants of unit tests that drive the launcher's run: a key
// of their own, digests remembered, and a lock polled without waiting.
#include "launcher/build_constants.h"
#include "tests/support/unit_test_release_key.h"

#include <string>

const SecretKey& unitTestReleaseKey()
{
    static const SecretKey key = generateSecretKey();
    return key;
}

namespace {

const std::string releaseKeys = releaseKeyText(unitTestReleaseKey().publicPart);

}  // namespace

const char* const buildServerHost = "127.0.0.1";
const unsigned short buildServerPort = 0;
const unsigned int buildLockPollMilliseconds = 1;
const unsigned int buildRequestWindowMilliseconds = 3000;
const char* const buildReleaseKeys = releaseKeys.c_str();
const bool buildDigestCache = true;
