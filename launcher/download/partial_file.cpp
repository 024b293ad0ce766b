#include "launcher/download/partial_file.h"

#include "launcher/download/partial_download.h"
#include "platform/platform.h"

PartialFile::PartialFile(const FetchedEntry& entry)
    : entry_(entry), name_(partialNameFor(entry.localName)), digests_(digestsFor(entry))
{
}

bool PartialFile::resume(unsigned long long pieceBytes)
{
    ResumeRecord record;
    platform::FileFacts facts;
    if (!readResumeRecord(entry_.localName, record) || !describes(record, entry_) || !platform::fileFacts(name_, facts))
        return false;
    // Killed between its last write and the rename, a partial file is already whole.
    const unsigned long long kept = facts.size >= record.total ? record.total : facts.size / pieceBytes * pieceBytes;
    if (kept == 0 || !platform::truncateFile(name_, kept) || !hashKeptBytes(kept))
        return false;
    platform::openForAppending(file_, name_);
    if (!file_)
        return false;
    offset_ = kept;
    total_ = record.total;
    if (record.validatorField == "ETag")
        condition_ = {"If-Match", record.validator};
    else if (record.validatorField == "Last-Modified")
        condition_ = {"If-Unmodified-Since", record.validator};
    resumed_ = true;
    return true;
}

bool PartialFile::startFromZero()
{
    file_.close();
    discardPartial(entry_.localName);
    platform::openForWriting(file_, name_);
    digests_ = StreamingDigests(digestsFor(entry_));
    offset_ = total_ = 0;
    condition_ = {};
    resumed_ = false;
    return static_cast<bool>(file_);
}

void PartialFile::recordTotal(unsigned long long total, const AnswerHead& answer)
{
    total_ = total;
    ResumeRecord record{entry_.path, entry_.expectedDigest, total_, "", ""};
    if (!answer.etag.empty())
        record.validatorField = "ETag", record.validator = answer.etag;
    else if (!answer.lastModified.empty())
        record.validatorField = "Last-Modified", record.validator = answer.lastModified;
    writeResumeRecord(entry_.localName, record);
}

bool PartialFile::write(const char* data, std::size_t size)
{
    digests_.add(data, size);
    file_.write(data, static_cast<std::streamsize>(size));
    return static_cast<bool>(file_);
}

bool PartialFile::keepPiece(unsigned long long bytes)
{
    file_.flush();
    if (!file_)
        return false;  // the offset stays at the last whole piece
    offset_ += bytes;
    return true;
}

void PartialFile::cutBack()
{
    file_.close();
    platform::truncateFile(name_, offset_);
}

bool PartialFile::verified()
{
    file_.close();
    return !file_.fail() && holdsEntry(digests_, entry_);
}

bool PartialFile::hashKeptBytes(unsigned long long kept)
{
    std::ifstream in;
    platform::openForReading(in, name_);
    return addFromStream(digests_, in, kept);
}
