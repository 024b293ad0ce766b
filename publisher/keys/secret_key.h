#pragma once

#include "channel/release_key.h"

#include <cstddef>
#include <string>

// The deployer's half of signing, which no launcher holds.

// The secret half, as kept in the deployer's key file. Its bytes live in
// memory locked where the OS allows (never swapped out) and are wiped when
// the key is dropped; it cannot be copied, only moved.
class SecretKey {
public:
    static constexpr std::size_t size = 64;  // libsodium's Ed25519 secret key: seed and public key

    SecretKey();
    ~SecretKey();
    SecretKey(SecretKey&& other) noexcept;
    SecretKey& operator=(SecretKey&& other) noexcept;
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;

    unsigned char* bytes() { return bytes_; }
    const unsigned char* bytes() const { return bytes_; }

    ReleaseKey publicPart;

private:
    unsigned char* bytes_;
};

// How every secret key file starts, whatever its version: the publisher
// refuses to publish a file that does, or to serve one from the channel.
inline constexpr const char* secretKeyFileMarker = "orn-release-secret-key ";

SecretKey generateSecretKey();
// The key file's text holds the secret: the caller wipes it (sodium_memzero) once written.
std::string secretKeyFileText(const SecretKey& key);
// False for anything but a file that generateSecretKey's text made. Makes
// no copy of the secret outside `key`.
bool parseSecretKeyFile(const std::string& text, SecretKey& key);

// The release's body followed by its signature line.
std::string signRelease(const std::string& body, const SecretKey& key);
