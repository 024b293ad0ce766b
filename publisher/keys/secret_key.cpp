#include "publisher/keys/secret_key.h"

#include "channel/release.h"
#include "digest/sha256.h"

#include <sodium.h>

#include <cstring>
#include <new>
#include <utility>

namespace {

const char* const secretKeyHeader = "orn-release-secret-key 1\n";  // begins with secretKeyFileMarker

}  // namespace

SecretKey::SecretKey() : bytes_(nullptr)
{
    prepareSodium();
    // Locked in memory where the OS allows it, guarded, and wiped by sodium_free.
    bytes_ = static_cast<unsigned char*>(sodium_malloc(size));
    if (bytes_ == nullptr)
        throw std::bad_alloc();
    sodium_memzero(bytes_, size);
}

SecretKey::~SecretKey()
{
    sodium_free(bytes_);
}

SecretKey::SecretKey(SecretKey&& other) noexcept : publicPart(std::move(other.publicPart)), bytes_(other.bytes_)
{
    other.bytes_ = nullptr;
}

SecretKey& SecretKey::operator=(SecretKey&& other) noexcept
{
    if (this != &other) {
        sodium_free(bytes_);
        bytes_ = other.bytes_;
        other.bytes_ = nullptr;
        publicPart = std::move(other.publicPart);
    }
    return *this;
}

SecretKey generateSecretKey()
{
    SecretKey key;
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    crypto_sign_keypair(publicKey, key.bytes());
    key.publicPart.publicKey.assign(reinterpret_cast<const char*>(publicKey), sizeof publicKey);
    key.publicPart.id = keyIdOf(toBase64(key.publicPart.publicKey));
    return key;
}

std::string secretKeyFileText(const SecretKey& key)
{
    std::string encoded(sodium_base64_ENCODED_LEN(SecretKey::size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(&encoded[0], encoded.size(), key.bytes(), SecretKey::size, sodium_base64_VARIANT_ORIGINAL);
    const std::size_t encodedLength = encoded.size() - 1;  // without the terminating zero
    std::string text;
    text.reserve(std::strlen(secretKeyHeader) + key.publicPart.id.size() + encoded.size() + 2);
    text.append(secretKeyHeader).append(key.publicPart.id).append(":").append(encoded, 0, encodedLength).append("\n");
    sodium_memzero(&encoded[0], encoded.size());
    return text;
}

bool parseSecretKeyFile(const std::string& text, SecretKey& key)
{
    const std::size_t headerLength = std::strlen(secretKeyHeader);
    if (text.size() <= headerLength || text.compare(0, headerLength, secretKeyHeader) != 0 || text.back() != '\n')
        return false;
    // Read in place: no copy of the secret's text is left behind.
    const char* const line = text.data() + headerLength;
    const std::size_t length = text.size() - headerLength - 1;
    if (length <= keyIdLength || line[keyIdLength] != ':' || std::memchr(line, ':', keyIdLength) != nullptr ||
        !decodeBase64(line + keyIdLength + 1, length - keyIdLength - 1, key.bytes(), SecretKey::size))
        return false;
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    crypto_sign_ed25519_sk_to_pk(publicKey, key.bytes());
    key.publicPart.publicKey.assign(reinterpret_cast<const char*>(publicKey), sizeof publicKey);
    key.publicPart.id = keyIdOf(toBase64(key.publicPart.publicKey));
    return key.publicPart.id.compare(0, std::string::npos, line, keyIdLength) == 0;
}

std::string signRelease(const std::string& body, const SecretKey& key)
{
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(body.data()), body.size(),
                         key.bytes());
    return body + releaseSignatureKeyword + key.publicPart.id + " " +
           toBase64(std::string(reinterpret_cast<const char*>(signature), sizeof signature)) + "\n";
}
