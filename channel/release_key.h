#pragma once

#include <cstddef>
#include <string>
#include <vector>

// An Ed25519 public key as deployers handle it: "KEYID:BASE64", where
// BASE64 is the 32-byte key (standard alphabet, padded) and KEYID the first
// 16 hex digits of the SHA-256 of that base64 text, so that a key copied
// with a typo is caught (by CMake too, which can hash text but not decode it).
struct ReleaseKey {
    std::string id;
    std::string publicKey;  // 32 raw bytes
};

bool parseReleaseKey(const std::string& text, ReleaseKey& key);
std::string releaseKeyText(const ReleaseKey& key);

// Keys separated by ';'. False when any of them is malformed.
bool parseReleaseKeyList(const std::string& list, std::vector<ReleaseKey>& keys);

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
// refuses to publish a file that does.
inline constexpr const char* secretKeyFileMarker = "orn-release-secret-key ";

SecretKey generateSecretKey();
// The key file's text holds the secret: the caller wipes it (sodium_memzero) once written.
std::string secretKeyFileText(const SecretKey& key);
// False for anything but a file that generateSecretKey's text made. Makes
// no copy of the secret outside `key`.
bool parseSecretKeyFile(const std::string& text, SecretKey& key);

std::string toBase64(const std::string& bytes);
// False for anything but padded standard base64 of exactly `size` bytes.
bool fromBase64(const std::string& text, std::size_t size, std::string& bytes);
