#include "channel/chunk_index.h"

#include "digest/sha256.h"

#include <algorithm>
#include <cstring>

namespace {

const char magic[] = "ORNCHUNK";
const std::size_t magicBytes = 8;
const std::uint32_t formatVersion = 1;
const std::size_t headerBytes = magicBytes + 4 * 4 + 8 + 32 + 8;
const std::size_t chunkBytes = 4 + 8 + chunkHashBytes;

void putNumber(std::string& out, unsigned long long value, unsigned bytes)
{
    for (unsigned i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xffu);
}

unsigned long long numberAt(const std::string& in, std::size_t at, unsigned bytes)
{
    unsigned long long value = 0;
    for (unsigned i = 0; i < bytes; ++i)
        value |= static_cast<unsigned long long>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    return value;
}

}  // namespace

std::string chunkIndexBytes(const ChunkIndex& index)
{
    std::string out(magic, magicBytes);
    putNumber(out, formatVersion, 4);
    putNumber(out, index.parameters.minBytes, 4);
    putNumber(out, index.parameters.normalBytes, 4);
    putNumber(out, index.parameters.maxBytes, 4);
    putNumber(out, index.fileSize, 8);
    unsigned char raw[crypto_hash_sha256_BYTES] = {};
    if (!isSha256Hex(index.fileSha256) ||
        sodium_hex2bin(raw, sizeof raw, index.fileSha256.data(), index.fileSha256.size(), nullptr, nullptr, nullptr) != 0)
        std::fill(raw, raw + sizeof raw, 0);
    out.append(reinterpret_cast<const char*>(raw), sizeof raw);
    putNumber(out, index.chunks.size(), 8);
    out.reserve(out.size() + index.chunks.size() * chunkBytes);
    for (const Chunk& chunk : index.chunks) {
        putNumber(out, chunk.length, 4);
        putNumber(out, chunk.fingerprint, 8);
        out.append(reinterpret_cast<const char*>(chunk.hash.data()), chunk.hash.size());
    }
    return out;
}

bool parseChunkIndex(const std::string& bytes, ChunkIndex& index)
{
    index = ChunkIndex();
    if (bytes.size() < headerBytes || bytes.size() > largestChunkIndexBytes ||
        bytes.compare(0, magicBytes, magic, magicBytes) != 0 || numberAt(bytes, 8, 4) != formatVersion)
        return false;
    index.parameters.minBytes = static_cast<std::uint32_t>(numberAt(bytes, 12, 4));
    index.parameters.normalBytes = static_cast<std::uint32_t>(numberAt(bytes, 16, 4));
    index.parameters.maxBytes = static_cast<std::uint32_t>(numberAt(bytes, 20, 4));
    index.fileSize = numberAt(bytes, 24, 8);
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, reinterpret_cast<const unsigned char*>(bytes.data()) + 32, crypto_hash_sha256_BYTES);
    index.fileSha256 = hex;
    const unsigned long long count = numberAt(bytes, 64, 8);
    if (!chunkParametersSupported(index.parameters) || count != (bytes.size() - headerBytes) / chunkBytes ||
        (bytes.size() - headerBytes) % chunkBytes != 0)
        return false;
    index.chunks.resize(static_cast<std::size_t>(count));
    unsigned long long total = 0;
    std::size_t at = headerBytes;
    for (std::size_t i = 0; i < index.chunks.size(); ++i, at += chunkBytes) {
        Chunk& chunk = index.chunks[i];
        chunk.length = static_cast<std::uint32_t>(numberAt(bytes, at, 4));
        chunk.fingerprint = numberAt(bytes, at + 4, 8);
        std::memcpy(chunk.hash.data(), bytes.data() + at + 12, chunkHashBytes);
        const bool last = i + 1 == index.chunks.size();
        if (chunk.length == 0 || chunk.length > index.parameters.maxBytes ||
            (!last && chunk.length < index.parameters.minBytes))
            return false;
        total += chunk.length;
    }
    return total == index.fileSize;
}
