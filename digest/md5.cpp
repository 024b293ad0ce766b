#include "digest/md5.h"

#include <cctype>

#include <cstring>

namespace {

const unsigned char padding[64] = {0x80};

inline std::uint32_t rotateLeft(std::uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

inline std::uint32_t loadLittleEndian(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

inline void storeLittleEndian(unsigned char* bytes, std::uint32_t value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

// Each step adds the message word and constant to a first, off the dependency
// chain through b; the auxiliary functions are in forms whose terms that do
// not involve b can start early. G's two terms never share a bit, so adding
// them separately equals OR-ing them.
// clang-format off
#define STEP_F(a, b, c, d, word, constant, shift)                                  \
    a += (word) + (constant);                                                     \
    a += (d) ^ ((b) & ((c) ^ (d)));                                               \
    a = rotateLeft(a, shift) + (b)
#define STEP_G(a, b, c, d, word, constant, shift)                                  \
    a += (word) + (constant);                                                     \
    a += (c) & ~(d);                                                              \
    a += (b) & (d);                                                               \
    a = rotateLeft(a, shift) + (b)
#define STEP_H(a, b, c, d, word, constant, shift)                                  \
    a += (word) + (constant);                                                     \
    a += (b) ^ ((c) ^ (d));                                                       \
    a = rotateLeft(a, shift) + (b)
#define STEP_I(a, b, c, d, word, constant, shift)                                  \
    a += (word) + (constant);                                                     \
    a += (c) ^ ((b) | ~(d));                                                      \
    a = rotateLeft(a, shift) + (b)
// clang-format on

}  // namespace

Md5::Md5() : finalized(false), bitCount{0, 0}, state{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u} {}

Md5::Md5(const std::string& text) : Md5()
{
    // update() counts in 32 bits; a longer string on a 64-bit host goes in
    // whole-block pieces so that every byte is counted.
    const std::size_t maxPiece = 0x80000000u;
    const char* data = text.data();
    std::size_t remaining = text.size();
    do {
        const std::size_t piece = remaining < maxPiece ? remaining : maxPiece;
        update(data, static_cast<std::uint32_t>(piece));
        data += piece;
        remaining -= piece;
    } while (remaining > 0);
    finalize();
}

void Md5::update(const char* input, std::uint32_t length)
{
    update(reinterpret_cast<const unsigned char*>(input), length);
}

void Md5::update(const unsigned char* input, std::uint32_t length)
{
    std::uint32_t index = (bitCount[0] >> 3) & 0x3f;

    const std::uint32_t addedBits = length << 3;
    bitCount[0] += addedBits;
    if (bitCount[0] < addedBits)
        ++bitCount[1];
    bitCount[1] += length >> 29;

    const std::uint32_t firstPart = 64 - index;
    std::uint32_t i = 0;
    if (length >= firstPart) {
        std::memcpy(&buffer[index], input, firstPart);
        transform(buffer, 1);
        i = firstPart;
        const std::uint32_t wholeBlocks = (length - i) / 64;
        transform(&input[i], wholeBlocks);
        i += wholeBlocks * 64;
        index = 0;
    }
    if (length > i)
        std::memcpy(&buffer[index], &input[i], length - i);
}

Md5& Md5::finalize()
{
    if (finalized)
        return *this;

    unsigned char lengthBytes[8];
    storeLittleEndian(lengthBytes, bitCount[0]);
    storeLittleEndian(lengthBytes + 4, bitCount[1]);

    const std::uint32_t index = (bitCount[0] >> 3) & 0x3f;
    const std::uint32_t paddingLength = index < 56 ? 56 - index : 120 - index;
    update(padding, paddingLength);
    update(lengthBytes, 8);

    for (int word = 0; word < 4; ++word)
        storeLittleEndian(&digest[word * 4], state[word]);

    std::memset(buffer, 0, sizeof buffer);
    bitCount[0] = bitCount[1] = 0;
    finalized = true;
    return *this;
}

std::string Md5::hexDigest() const
{
    if (!finalized)
        return std::string();
    static const char digits[] = "0123456789abcdef";
    std::string text(32, '0');
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = digits[digest[i] >> 4];
        text[2 * i + 1] = digits[digest[i] & 0x0f];
    }
    return text;
}

void Md5::transform(const unsigned char* blocks, std::uint32_t count)
{
    // The chaining words stay in registers from one block to the next.
    std::uint32_t stateA = state[0], stateB = state[1], stateC = state[2], stateD = state[3];
    for (const unsigned char* block = blocks; count > 0; --count, block += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = loadLittleEndian(&block[i * 4]);

        std::uint32_t a = stateA, b = stateB, c = stateC, d = stateD;

        // The rounds line up as RFC 1321 tables them.
        // clang-format off
        // Round 1
        STEP_F(a, b, c, d, x[ 0], 0xd76aa478u,  7);
        STEP_F(d, a, b, c, x[ 1], 0xe8c7b756u, 12);
        STEP_F(c, d, a, b, x[ 2], 0x242070dbu, 17);
        STEP_F(b, c, d, a, x[ 3], 0xc1bdceeeu, 22);
        STEP_F(a, b, c, d, x[ 4], 0xf57c0fafu,  7);
        STEP_F(d, a, b, c, x[ 5], 0x4787c62au, 12);
        STEP_F(c, d, a, b, x[ 6], 0xa8304613u, 17);
        STEP_F(b, c, d, a, x[ 7], 0xfd469501u, 22);
        STEP_F(a, b, c, d, x[ 8], 0x698098d8u,  7);
        STEP_F(d, a, b, c, x[ 9], 0x8b44f7afu, 12);
        STEP_F(c, d, a, b, x[10], 0xffff5bb1u, 17);
        STEP_F(b, c, d, a, x[11], 0x895cd7beu, 22);
        STEP_F(a, b, c, d, x[12], 0x6b901122u,  7);
        STEP_F(d, a, b, c, x[13], 0xfd987193u, 12);
        STEP_F(c, d, a, b, x[14], 0xa679438eu, 17);
        STEP_F(b, c, d, a, x[15], 0x49b40821u, 22);
        // Round 2
        STEP_G(a, b, c, d, x[ 1], 0xf61e2562u,  5);
        STEP_G(d, a, b, c, x[ 6], 0xc040b340u,  9);
        STEP_G(c, d, a, b, x[11], 0x265e5a51u, 14);
        STEP_G(b, c, d, a, x[ 0], 0xe9b6c7aau, 20);
        STEP_G(a, b, c, d, x[ 5], 0xd62f105du,  5);
        STEP_G(d, a, b, c, x[10], 0x02441453u,  9);
        STEP_G(c, d, a, b, x[15], 0xd8a1e681u, 14);
        STEP_G(b, c, d, a, x[ 4], 0xe7d3fbc8u, 20);
        STEP_G(a, b, c, d, x[ 9], 0x21e1cde6u,  5);
        STEP_G(d, a, b, c, x[14], 0xc33707d6u,  9);
        STEP_G(c, d, a, b, x[ 3], 0xf4d50d87u, 14);
        STEP_G(b, c, d, a, x[ 8], 0x455a14edu, 20);
        STEP_G(a, b, c, d, x[13], 0xa9e3e905u,  5);
        STEP_G(d, a, b, c, x[ 2], 0xfcefa3f8u,  9);
        STEP_G(c, d, a, b, x[ 7], 0x676f02d9u, 14);
        STEP_G(b, c, d, a, x[12], 0x8d2a4c8au, 20);
        // Round 3
        STEP_H(a, b, c, d, x[ 5], 0xfffa3942u,  4);
        STEP_H(d, a, b, c, x[ 8], 0x8771f681u, 11);
        STEP_H(c, d, a, b, x[11], 0x6d9d6122u, 16);
        STEP_H(b, c, d, a, x[14], 0xfde5380cu, 23);
        STEP_H(a, b, c, d, x[ 1], 0xa4beea44u,  4);
        STEP_H(d, a, b, c, x[ 4], 0x4bdecfa9u, 11);
        STEP_H(c, d, a, b, x[ 7], 0xf6bb4b60u, 16);
        STEP_H(b, c, d, a, x[10], 0xbebfbc70u, 23);
        STEP_H(a, b, c, d, x[13], 0x289b7ec6u,  4);
        STEP_H(d, a, b, c, x[ 0], 0xeaa127fau, 11);
        STEP_H(c, d, a, b, x[ 3], 0xd4ef3085u, 16);
        STEP_H(b, c, d, a, x[ 6], 0x04881d05u, 23);
        STEP_H(a, b, c, d, x[ 9], 0xd9d4d039u,  4);
        STEP_H(d, a, b, c, x[12], 0xe6db99e5u, 11);
        STEP_H(c, d, a, b, x[15], 0x1fa27cf8u, 16);
        STEP_H(b, c, d, a, x[ 2], 0xc4ac5665u, 23);
        // Round 4
        STEP_I(a, b, c, d, x[ 0], 0xf4292244u,  6);
        STEP_I(d, a, b, c, x[ 7], 0x432aff97u, 10);
        STEP_I(c, d, a, b, x[14], 0xab9423a7u, 15);
        STEP_I(b, c, d, a, x[ 5], 0xfc93a039u, 21);
        STEP_I(a, b, c, d, x[12], 0x655b59c3u,  6);
        STEP_I(d, a, b, c, x[ 3], 0x8f0ccc92u, 10);
        STEP_I(c, d, a, b, x[10], 0xffeff47du, 15);
        STEP_I(b, c, d, a, x[ 1], 0x85845dd1u, 21);
        STEP_I(a, b, c, d, x[ 8], 0x6fa87e4fu,  6);
        STEP_I(d, a, b, c, x[15], 0xfe2ce6e0u, 10);
        STEP_I(c, d, a, b, x[ 6], 0xa3014314u, 15);
        STEP_I(b, c, d, a, x[13], 0x4e0811a1u, 21);
        STEP_I(a, b, c, d, x[ 4], 0xf7537e82u,  6);
        STEP_I(d, a, b, c, x[11], 0xbd3af235u, 10);
        STEP_I(c, d, a, b, x[ 2], 0x2ad7d2bbu, 15);
        STEP_I(b, c, d, a, x[ 9], 0xeb86d391u, 21);
        // clang-format on

        stateA += a;
        stateB += b;
        stateC += c;
        stateD += d;
    }
    state[0] = stateA;
    state[1] = stateB;
    state[2] = stateC;
    state[3] = stateD;
}

std::ostream& operator<<(std::ostream& out, Md5 md5)
{
    return out << md5.hexDigest();
}

std::string md5Hex(std::string text)
{
    return Md5(text).hexDigest();
}

bool sameHexDigest(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::string::size_type i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}
