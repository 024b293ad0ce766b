#include "channel/release_key.h"

#include "digest/sha256.h"

#include <sodium.h>

#include <cstring>

std::string keyIdOf(const std::string& base64)
{
    return sha256Hex(base64).substr(0, keyIdLength);
}

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
