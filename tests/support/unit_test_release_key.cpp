#include "tests/support/unit_test_release_key.h"

const SecretKey& unitTestReleaseKey()
{
    static const SecretKey key = generateSecretKey();
    return key;
}
