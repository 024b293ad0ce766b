#include "channel/release_key.h"

#include "channel/sha256.h"

#include <sodium.h>

#include <cstring>
#include <new>
#include <utility>

namespace {

const char* const secretKeyHeader = "orn-release-secret-key 1\n";  // begins with secretKeyFileMarker
const std::size_t keyIdLength = 16;

std::string keyIdOf(const std::string& base64)
{
    return sha256Hex(base64).substr(0, keyIdLength);
}

// Padded standard base64 of exactly `size` bytes into `out`. The re-encoding
// that proves it canonical is wiped: it may spell a secret key.
bool decodeBase64(const char* text, std::size_t length, unsigned char* out, std::size_t size)
{
    prepareSodium();
    std::size_t decoded = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out, size, text, length, nullptr, &decoded, &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        decoded != size || end != text + length)
        return false;
    // Exactly one canonical spelling: no trailing text, no other encoding of the same bytes.
    std::string again(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(&again[0], again.size(), out, size, sodium_base64_VARIANT_ORIGINAL);
    const bool canonical = again.size() == length + 1 && std::memcmp(again.data(), text, length) == 0;
    sodium_memzero(&again[0], again.size());
    return canonical;
}

}  // namespace

std::string toBase64(const std::string& bytes)
{
    prepareSodium();
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(&text[0], text.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1);  // the terminating zero
    return text;
}

bool fromBase64(const std::string& text, std::size_t size, std::string& bytes)
{
    bytes.assign(size, '\0');
    return decodeBase64(text.data(), text.size(), reinterpret_cast<unsigned char*>(&bytes[0]), size);
}

bool parseReleaseKey(const std::string& text, ReleaseKey& key)
{
    const std::string::size_type colon = text.find(':');
    if (colon != keyIdLength)
        return false;
    const std::string base64 = text.substr(colon + 1);
    if (!fromBase64(base64, crypto_sign_PUBLICKEYBYTES, key.publicKey))
        return false;
    key.id = text.substr(0, colon);
    return key.id == keyIdOf(base64);
}

std::string releaseKeyText(const ReleaseKey& key)
{
    return key.id + ":" + toBase64(key.publicKey);
}

bool parseReleaseKeyList(const std::string& list, std::vector<ReleaseKey>& keys)
{
    keys.clear();
    if (list.empty())
        return true;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = list.find(';', start);
        ReleaseKey key;
        if (!parseReleaseKey(list.substr(start, end == std::string::npos ? std::string::npos : end - start), key))
            return false;
        keys.push_back(key);
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

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
    if (length <= keyIdLength || line[keyIdLength] != ':' ||
        std::memchr(line, ':', keyIdLength) != nullptr ||
        !decodeBase64(line + keyIdLength + 1, length - keyIdLength - 1, key.bytes(), SecretKey::size))
        return false;
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    crypto_sign_ed25519_sk_to_pk(publicKey, key.bytes());
    key.publicPart.publicKey.assign(reinterpret_cast<const char*>(publicKey), sizeof publicKey);
    key.publicPart.id = keyIdOf(toBase64(key.publicPart.publicKey));
    return key.publicPart.id.compare(0, std::string::npos, line, keyIdLength) == 0;
}
