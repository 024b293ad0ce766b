#include "launcher/download.h"

#include "channel/sha256.h"
#include "digest/md5.h"
#include "launcher/http_fields.h"
#include "launcher/parent_directories.h"
#include "launcher/partial_download.h"
#include "launcher/platform/platform.h"

#include <cstdint>
#include <fstream>
#include <limits>
#include <utility>
#include <vector>

namespace {

const int ok = 200;
const int partialContent = 206;
const int preconditionFailed = 412;
const int rangeNotSatisfiable = 416;
// A body that runs until the server closes (or its last chunk): its end is its length.
const unsigned long long unknownLength = std::numeric_limits<unsigned long long>::max();

enum class Fetched {
    whole,      // every byte is in the file
    broken,     // the transfer broke off: the whole pieces written may be resumed
    untrusted,  // an answer that cannot be trusted: nothing kept
    restart,    // the resumed file changed on the server: start from zero
};

// One file being fetched into its partial file: the bytes written so far
// and their digests, the record that lets a broken download resume, and
// the progress shown on a console. Each answer streams into the file as it
// arrives; its head decides beforehand whether its body is wanted at all.
class FileFetch : private AnswerSink {
public:
    FileFetch(const ServerAddress& server, const std::string& uri, const std::string& path,
              const std::string& expectedDigest, const ReleaseEntry* signedEntry, const std::string& localName,
              DownloadProgress* progress)
        : server_(server), uri_(uri), path_(path), expectedDigest_(expectedDigest), signedEntry_(signedEntry),
          localName_(localName), partialName_(partialNameFor(localName)), progress_(progress)
    {
    }

    // Continues a partial file left by a broken download, when its record
    // still describes this entry: keeps its whole pieces and hashes them again.
    bool resume()
    {
        ResumeRecord record;
        platform::FileFacts facts;
        if (!readResumeRecord(localName_, record) || record.path != path_ ||
            !sameHexDigest(record.digest, expectedDigest_) ||
            (signedEntry_ != nullptr && record.total != signedEntry_->size) ||
            !platform::fileFacts(partialName_, facts))
            return false;
        // Killed between its last write and the rename, a partial file is already whole.
        const unsigned long long kept =
            facts.size >= record.total ? record.total : facts.size / downloadPieceBytes * downloadPieceBytes;
        if (kept == 0 || !platform::truncateFile(partialName_, kept) || !hashKeptBytes(kept))
            return false;
        platform::openForAppending(file_, partialName_);
        if (!file_)
            return false;
        offset_ = kept;
        total_ = record.total;
        // The server answers 412 instead of other bytes when its file changed since.
        if (record.validatorField == "ETag")
            condition_ = {"If-Match", record.validator};
        else if (record.validatorField == "Last-Modified")
            condition_ = {"If-Unmodified-Since", record.validator};
        resumed_ = true;
        return true;
    }

    bool startFromZero()
    {
        file_.close();
        discardPartial(localName_);
        platform::openForWriting(file_, partialName_);
        md5_ = Md5();
        sha256_ = Sha256();
        offset_ = total_ = 0;
        condition_ = {};
        resumed_ = false;
        wholeFile_ = false;
        return static_cast<bool>(file_);
    }

    bool resumed() const { return resumed_; }

    Fetched fetch()
    {
        if (signedEntry_ != nullptr && signedEntry_->size == 0)
            return Fetched::whole;  // nothing to ask for; the digests decide
        if (total_ != 0 && offset_ == total_)
            return Fetched::whole;  // a resumed file that is already whole: nothing past its end is asked for
        if (progress_ != nullptr)
            progress_->start(offset_, resumed_);
        for (;;) {
            const Fetched fetched = fetchPiece();
            if (fetched != Fetched::whole || wholeFile_)
                return fetched;
            if (progress_ != nullptr)
                progress_->advance(offset_, total_);
            if (offset_ == total_)
                return Fetched::whole;
        }
    }

    // Closes the partial file; true when it holds the expected bytes.
    bool verified()
    {
        file_.close();
        return !file_.fail() && sameHexDigest(md5_.finalize().hexDigest(), expectedDigest_) &&
               (signedEntry_ == nullptr || sha256_.hexDigest() == signedEntry_->sha256);
    }

    void close() { file_.close(); }

private:
    // What the head of the current answer said its body is.
    enum class Body { unwanted, wholeFile, piece };

    // Asks for the next piece; `Fetched::whole` here means this answer arrived whole.
    Fetched fetchPiece()
    {
        pieceLast_ = offset_ + downloadPieceBytes - 1;
        if (signedEntry_ != nullptr && pieceLast_ >= signedEntry_->size)
            pieceLast_ = signedEntry_->size - 1;
        firstAnswer_ = total_ == 0 || (resumed_ && !answeredSinceResume_);
        HeaderFields fields = {{"Range", "bytes=" + std::to_string(offset_) + "-" + std::to_string(pieceLast_)}};
        if (!condition_.first.empty())
            fields.push_back(condition_);
        body_ = Body::unwanted;
        verdict_ = Fetched::untrusted;
        received_ = 0;
        writeFailed_ = false;
        const AnswerEnd end = httpGet(server_, uri_, fields, *this);
        answeredSinceResume_ = true;
        switch (body_) {
        case Body::unwanted:
            wholeFile_ = verdict_ == Fetched::whole;  // an empty file, told by a 416
            return end == AnswerEnd::stopped ? verdict_ : brokenOrUntrusted();
        case Body::wholeFile:
            // Whole or nothing: a whole-file answer that breaks off has no record to resume from.
            wholeFile_ = true;
            return end == AnswerEnd::complete && !writeFailed_ &&
                           (expectedBytes_ == unknownLength || received_ == expectedBytes_)
                       ? Fetched::whole
                       : Fetched::untrusted;
        case Body::piece:
            break;
        }
        if (writeFailed_)
            return Fetched::untrusted;
        if (end != AnswerEnd::complete || received_ != expectedBytes_) {
            // Only whole pieces are kept: a cut one is cut off the file again.
            file_.close();
            platform::truncateFile(partialName_, offset_);
            return brokenOrUntrusted();
        }
        // Each piece reaches the file before the next is asked for: a kill keeps whole pieces.
        file_.flush();
        offset_ += received_;
        return file_ ? Fetched::whole : Fetched::untrusted;
    }

    Fetched brokenOrUntrusted() const { return offset_ > 0 ? Fetched::broken : Fetched::untrusted; }

    bool takeHead(const AnswerHead& answer) override
    {
        verdict_ = judgeHead(answer);
        return body_ != Body::unwanted;
    }

    // Decides from the head alone what the answer's body is, and sets `verdict_` when it is not wanted.
    Fetched judgeHead(const AnswerHead& answer)
    {
        unsigned long long declared = 0;
        const bool hasLength = !answer.contentLength.empty();
        if (hasLength && !parseContentLength(answer.contentLength, declared))
            return brokenOrUntrusted();
        if (answer.status == ok)
            return judgeWholeFile(hasLength, declared);
        if (answer.status == preconditionFailed && resumed_)
            return Fetched::restart;  // the file changed on the server since the pieces kept
        ContentRange range;
        if (offset_ == 0 && answer.status == rangeNotSatisfiable)
            return parseContentRange(answer.contentRange, range) && !range.satisfied && range.total == 0
                       ? Fetched::whole  // an empty file: nothing to write
                       : Fetched::untrusted;
        if (answer.status != partialContent || !parseContentRange(answer.contentRange, range) || !range.satisfied ||
            range.first != offset_ || (signedEntry_ != nullptr && range.total != signedEntry_->size))
            return brokenOrUntrusted();
        if (total_ != 0 && range.total != total_)
            return resumed_ && firstAnswer_ ? Fetched::restart : Fetched::untrusted;
        // The whole range asked for, or up to the end: a server that gives less could drag one file out forever.
        const unsigned long long last = pieceLast_ < range.total ? pieceLast_ : range.total - 1;
        if (range.last != last || (hasLength && declared != range.last - range.first + 1))
            return brokenOrUntrusted();
        if (total_ == 0) {
            total_ = range.total;
            ResumeRecord record{path_, expectedDigest_, total_, "", ""};
            if (!answer.etag.empty())
                record.validatorField = "ETag", record.validator = answer.etag;
            else if (!answer.lastModified.empty())
                record.validatorField = "Last-Modified", record.validator = answer.lastModified;
            writeResumeRecord(localName_, record);
        }
        expectedBytes_ = range.last - range.first + 1;
        body_ = Body::piece;
        return Fetched::whole;
    }

    // A 200 is the whole file, taken from zero: to the first request, or to a
    // resumed one from a server that ignores ranges.
    Fetched judgeWholeFile(bool hasLength, unsigned long long declared)
    {
        if (offset_ > 0 && (!(resumed_ && firstAnswer_) || !startFromZero()))
            return Fetched::untrusted;
        if (signedEntry_ != nullptr) {
            if (hasLength && declared != signedEntry_->size)
                return Fetched::untrusted;
            hasLength = true;
            declared = signedEntry_->size;  // never read past the signed size
        }
        expectedBytes_ = hasLength ? declared : unknownLength;
        body_ = Body::wholeFile;
        return Fetched::whole;
    }

    bool takeBody(const char* data, std::size_t size) override
    {
        if (size > expectedBytes_ - received_) {
            received_ = expectedBytes_ + 1;  // more than was asked for or signed: never written
            return false;
        }
        hash(data, size);
        file_.write(data, static_cast<std::streamsize>(size));
        received_ += size;
        if (!file_) {
            writeFailed_ = true;
            return false;
        }
        return true;
    }

    void hash(const char* data, std::size_t size)
    {
        md5_.update(data, static_cast<std::uint32_t>(size));
        if (signedEntry_ != nullptr)  // the SHA-256 only under a signed release
            sha256_.update(data, size);
    }

    bool hashKeptBytes(unsigned long long kept)
    {
        std::ifstream in;
        platform::openForReading(in, partialName_);
        std::vector<char> piece(1u << 20);
        unsigned long long left = kept;
        while (in && left > 0) {
            in.read(piece.data(), static_cast<std::streamsize>(left < piece.size() ? left : piece.size()));
            hash(piece.data(), static_cast<std::size_t>(in.gcount()));
            left -= static_cast<unsigned long long>(in.gcount());
        }
        return left == 0;
    }

    const ServerAddress& server_;
    std::string uri_;
    std::string path_;
    std::string expectedDigest_;
    const ReleaseEntry* signedEntry_;
    std::string localName_;
    std::string partialName_;
    DownloadProgress* progress_;
    std::ofstream file_;
    Md5 md5_;
    Sha256 sha256_;
    unsigned long long offset_ = 0;
    unsigned long long total_ = 0;
    std::pair<std::string, std::string> condition_;
    bool resumed_ = false;
    bool answeredSinceResume_ = false;
    bool wholeFile_ = false;

    // The answer being read.
    unsigned long long pieceLast_ = 0;
    bool firstAnswer_ = false;
    Body body_ = Body::unwanted;
    Fetched verdict_ = Fetched::untrusted;
    unsigned long long expectedBytes_ = 0;
    unsigned long long received_ = 0;
    bool writeFailed_ = false;
};

}  // namespace

bool downloadFile(const ServerAddress& server, const std::string& uri, const std::string& path,
                  const std::string& expectedDigest, const ReleaseEntry* signedEntry, const std::string& localName,
                  DownloadProgress* progress)
{
    if (!createParentDirectories(localName))
        return false;
    FileFetch fetch(server, uri, path, expectedDigest, signedEntry, localName, progress);
    if (!fetch.resume() && !fetch.startFromZero())
        return false;
    Fetched fetched = fetch.fetch();
    bool verified = fetched == Fetched::whole && fetch.verified();
    // A resumed file that changed on the server, or whose kept bytes do not
    // give the digest, is fetched once more from zero in the same run.
    if (fetch.resumed() && !verified && (fetched == Fetched::restart || fetched == Fetched::whole)) {
        if (!fetch.startFromZero())
            return false;
        fetched = fetch.fetch();
        verified = fetched == Fetched::whole && fetch.verified();
    }
    if (verified && platform::replaceFile(partialNameFor(localName).c_str(), localName.c_str())) {
        discardPartial(localName);
        return true;
    }
    fetch.close();
    if (fetched != Fetched::broken)
        discardPartial(localName);
    return false;
}
