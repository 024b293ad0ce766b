#include "channel/release_key.h"

#include "channel/sha256.h"

#include <sodium.h>

namespace {

const char* const secretKeyHeader = "orn-release-secret-key 1\n";
const std::size_t keyIdLength = 16;

std::string keyIdOf(const std::string& base64)
{
    return sha256Hex(base64).substr(0, keyIdLength);
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
    prepareSodium();
    bytes.assign(size, '\0');
    std::size_t decoded = 0;
    const char* end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(&bytes[0]), size, text.data(), text.size(), nullptr,
                          &decoded, &end, sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    // Exactly one canonical spelling: no trailing text, no other encoding of the same bytes.
    return decoded == size && end == text.data() + text.size() && toBase64(bytes) == text;
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

SecretKey generateSecretKey()
{
    prepareSodium();
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(publicKey, secretKey);
    SecretKey key;
    key.publicPart.publicKey.assign(reinterpret_cast<const char*>(publicKey), sizeof publicKey);
    key.publicPart.id = keyIdOf(toBase64(key.publicPart.publicKey));
    key.secretKey.assign(reinterpret_cast<const char*>(secretKey), sizeof secretKey);
    sodium_memzero(secretKey, sizeof secretKey);
    return key;
}

std::string secretKeyFileText(const SecretKey& key)
{
    return secretKeyHeader + key.publicPart.id + ":" + toBase64(key.secretKey) + "\n";
}

bool parseSecretKeyFile(const std::string& text, SecretKey& key)
{
    const std::string header = secretKeyHeader;
    if (text.compare(0, header.size(), header) != 0 || text.empty() || text.back() != '\n')
        return false;
    const std::string line = text.substr(header.size(), text.size() - header.size() - 1);
    const std::string::size_type colon = line.find(':');
    if (colon != keyIdLength || !fromBase64(line.substr(colon + 1), crypto_sign_SECRETKEYBYTES, key.secretKey))
        return false;
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    crypto_sign_ed25519_sk_to_pk(publicKey, reinterpret_cast<const unsigned char*>(key.secretKey.data()));
    key.publicPart.publicKey.assign(reinterpret_cast<const char*>(publicKey), sizeof publicKey);
    key.publicPart.id = keyIdOf(toBase64(key.publicPart.publicKey));
    return key.publicPart.id == line.substr(0, colon);
}
