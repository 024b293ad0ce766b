#include "channel/chunk_index.h"

#include "channel/binary_fields.h"
#include "digest/sha256.h"

#include <algorithm>
#include <cstring>

namespace {

const char magic[] = "ORNCHUNK";
const std::size_t magicBytes = 8;
const std::uint32_t formatVersion = 1;
const std::size_t headerBytes = magicBytes + 4 * 4 + 8 + 32 + 8;
const std::size_t chunkBytes = 4 + 8 + chunkHashBytes;

}  // namespace

std::string chunkIndexBytes(const ChunkIndex& index)
{
    std::string out(magic, magicBytes);
    putNumber(out, formatVersion, 4);
    putNumber(out, index.parameters.minBytes, 4);
    putNumber(out, index.parameters.normalBytes, 4);
    putNumber(out, index.parameters.maxBytes, 4);
    putNumber(out, index.fileSize, 8);
    out += rawSha256(index.fileSha256);
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
    sodium_bin2hex(hex, sizeof hex, reinterpret_cast<const unsigned char*>(bytes.data()) + 32,
                   crypto_hash_sha256_BYTES);
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
