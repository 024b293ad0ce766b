#include "launcher/download/chunk_index_fetch.h"

#include "digest/sha256.h"
#include "launcher/http/text_answer.h"

namespace {

const int partialContent = 206;

}  // namespace

bool fetchChunkIndex(Transport& transport, const DeltaSource& source, const ReleaseEntry& signedFile, ChunkIndex& index)
{
    const ReleaseEntry& signedIndex = source.index;
    if (signedIndex.size == 0 || signedIndex.size > largestChunkIndexBytes)
        return false;
    TextAnswer answer(static_cast<std::size_t>(signedIndex.size));
    answer.body.reserve(static_cast<std::size_t>(signedIndex.size));
    const AnswerEnd end = transport.ask(source.indexUri, 0, signedIndex.size - 1, {}, answer);
    if (end != AnswerEnd::complete || answer.overflowed || answer.body.size() != signedIndex.size ||
        (answer.head.status != 200 && answer.head.status != partialContent) ||
        sha256Hex(answer.body) != signedIndex.sha256 || !parseChunkIndex(answer.body, index))
        return false;
    return index.fileSize == signedFile.size && index.fileSha256 == signedFile.sha256;
}
