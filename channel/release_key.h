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

// How many hex digits of the SHA-256 of a public key's base64 text name it.
inline constexpr std::size_t keyIdLength = 16;
std::string keyIdOf(const std::string& base64);

std::string toBase64(const std::string& bytes);
// False for anything but padded standard base64 of exactly `size` bytes.
bool fromBase64(const std::string& text, std::size_t size, std::string& bytes);
// The same into `out`, making no other copy of the bytes: they may be a
// secret key. The re-encoding that proves the text canonical is wiped.
bool decodeBase64(const char* text, std::size_t length, unsigned char* out, std::size_t size);
