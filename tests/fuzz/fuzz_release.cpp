// The signed release's parser over arbitrary text: what the server sends as "release".
#include "channel/release_check.h"
#include "publisher/keys/secret_key.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    // Whatever parses, written again in the publisher's form, reads back the same.
    Release release;
    if (parseReleaseBody(text, release)) {
        Release again;
        FUZZ_CHECK(parseReleaseBody(releaseBody(release), again) && releaseBody(again) == releaseBody(release));
        FUZZ_CHECK(!release.channel.empty() && release.manifestSha256.size() == 64);
        for (const ReleaseEntry& entry : release.files)
            FUZZ_CHECK(!entry.path.empty() && entry.path.find('\n') == std::string::npos && entry.sha256.size() == 64);
    }

    // The signed part is exactly what precedes the one signature line.
    std::string body;
    std::string keyId;
    std::string signature;
    if (splitSignedRelease(text, body, keyId, signature)) {
        FUZZ_CHECK(text.compare(0, body.size(), body) == 0 && signature.size() == 64);
        FUZZ_CHECK(text.find('\n', body.size()) == text.size() - 1);
    }

    // No input is taken for a release signed by a key the fuzzer does not hold.
    static const SecretKey key = generateSecretKey();
    FUZZ_CHECK(!verifySignedRelease(text, {key.publicPart}, body));
    FUZZ_CHECK(checkRelease(text, {key.publicPart}, "latest", 0, 0, "", {}, release) == ReleaseVerdict::badSignature);
    return 0;
}
