#include "launcher/download.h"

#include "channel/sha256.h"
#include "digest/md5.h"
#include "launcher/bounded_get.h"
#include "launcher/build_constants.h"
#include "launcher/http_fields.h"
#include "launcher/parent_directories.h"
#include "launcher/partial_download.h"
#include "launcher/platform/platform.h"
#include "launcher/remote_paths.h"

#include <cctype>
#include <cstdint>
#include <fstream>
#include <exception>
#include <utility>
#include <vector>

namespace {

const int rangeNotSatisfiable = 416;
const int preconditionFailed = 412;

// What the checks read of one answer, from the HTTP client or a bounded request.
struct PieceAnswer {
    int status = 0;
    std::string contentLength;
    std::string contentRange;
    std::string etag;
    std::string lastModified;
    const std::string* body = nullptr;
};

PieceAnswer viewOf(const sf::Http::Response& response)
{
    return {response.getStatus(),   response.getField("Content-Length"), response.getField("Content-Range"),
            response.getField("ETag"), response.getField("Last-Modified"), &response.getBody()};
}

// A missing field means the body runs to the end of the connection.
bool bodyMatchesDeclaredLength(const PieceAnswer& answer)
{
    if (answer.contentLength.empty())
        return true;
    unsigned long long declared = 0;
    return parseContentLength(answer.contentLength, declared) && declared == answer.body->size();
}

// Writes one piece to the file and the digests.
// Asks for bytes first..last: through the HTTP client, or, under a signed
// release, through a request that stops reading past `maxBodyBytes`.
class PieceRequester {
public:
    PieceRequester(sf::Http& http, const std::string& uri, bool bounded) : http_(http), uri_(uri), bounded_(bounded) {}

    // `condition` is a header field ("If-Match", "If-Unmodified-Since") and its value, or empty.
    bool ask(unsigned long long first, unsigned long long last, const std::pair<std::string, std::string>& condition,
             unsigned long long maxBodyBytes, PieceAnswer& answer)
    {
        const std::string range = "bytes=" + std::to_string(first) + "-" + std::to_string(last);
        if (bounded_) {
            if (!boundedGet(serverHost, buildServerPort, uri_, range, condition,
                            static_cast<std::size_t>(maxBodyBytes), boundedAnswer_))
                return false;
            answer = {boundedAnswer_.status, boundedAnswer_.contentLength, boundedAnswer_.contentRange,
                      boundedAnswer_.etag, boundedAnswer_.lastModified, &boundedAnswer_.body};
            return true;
        }
        // A request of its own: the Range field must not stick to the reused manifest request.
        sf::Http::Request request(uri_, sf::Http::Request::Get, "");
        // HTTP/1.1: some servers (lighttpd) ignore a Range field in an HTTP/1.0 request.
        request.setHttpVersion(1, 1);
        request.setField("Range", range);
        if (!condition.first.empty())
            request.setField(condition.first, condition.second);
        if (!sendRequest(http_, request, response_))
            return false;
        answer = viewOf(response_);
        return true;
    }

private:
    sf::Http& http_;
    sf::Http::Response response_;
    BoundedAnswer boundedAnswer_;
    std::string uri_;
    bool bounded_;
};

enum class Fetched {
    whole,      // every byte is in the file
    broken,     // the transfer broke off: the whole pieces written may be resumed
    untrusted,  // an answer that cannot be trusted: nothing kept
    restart,    // the resumed file changed on the server: start from zero
};

// One file being fetched into its partial file: the bytes written so far
// and their digests, the record that lets a broken download resume, and
// the progress shown on a console.
class FileFetch {
public:
    FileFetch(const std::string& path, const std::string& expectedDigest, const ReleaseEntry* signedEntry,
              const std::string& localName, DownloadProgress* progress)
        : path_(path), expectedDigest_(expectedDigest), signedEntry_(signedEntry), localName_(localName),
          partialName_(partialNameFor(localName)), progress_(progress)
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
        const unsigned long long kept =
            (facts.size < record.total ? facts.size : record.total) / downloadPieceBytes * downloadPieceBytes;
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
        return static_cast<bool>(file_);
    }

    bool resumed() const { return resumed_; }
    unsigned long long offset() const { return offset_; }

    Fetched fetch(PieceRequester& requester)
    {
        if (signedEntry_ != nullptr && signedEntry_->size == 0)
            return Fetched::whole;  // nothing to ask for; the digests decide
        if (progress_ != nullptr)
            progress_->start(offset_, resumed_);
        PieceAnswer answer;
        for (;;) {
            unsigned long long last = offset_ + downloadPieceBytes - 1;
            if (signedEntry_ != nullptr && last >= signedEntry_->size)
                last = signedEntry_->size - 1;
            const bool firstAnswer = total_ == 0 || (resumed_ && !answeredSinceResume_);
            // A whole-file answer (to the first request, or to a resumed one from a server that
            // ignores ranges) may carry the signed size; a piece, what was asked.
            const bool wholeFileMayCome = offset_ == 0 || (resumed_ && firstAnswer);
            const unsigned long long maxBody =
                wholeFileMayCome && signedEntry_ != nullptr && signedEntry_->size > last - offset_ + 1
                    ? signedEntry_->size
                    : last - offset_ + 1;
            if (!requester.ask(offset_, last, condition_, maxBody, answer))
                return offset_ > 0 ? Fetched::broken : Fetched::untrusted;
            answeredSinceResume_ = true;

            // Ranges ignored on resume: this answer is the whole file, taken from zero.
            if (answer.status == sf::Http::Response::Ok && offset_ > 0 &&
                (!(resumed_ && firstAnswer) || !startFromZero()))
                return Fetched::untrusted;
            if (answer.status == preconditionFailed && resumed_)
                return Fetched::restart;  // the file changed on the server since the pieces kept
            if (answer.status == sf::Http::Response::Ok)
                return bodyMatchesDeclaredLength(answer) &&
                               (signedEntry_ == nullptr || answer.body->size() == signedEntry_->size) &&
                               append(*answer.body)
                           ? Fetched::whole
                           : Fetched::untrusted;

            ContentRange range;
            if (offset_ == 0 && answer.status == rangeNotSatisfiable)
                return parseContentRange(answer.contentRange, range) && !range.satisfied && range.total == 0
                           ? Fetched::whole
                           : Fetched::untrusted;

            if (answer.status != sf::Http::Response::PartialContent || !bodyMatchesDeclaredLength(answer) ||
                !parseContentRange(answer.contentRange, range) || !range.satisfied || range.first != offset_ ||
                answer.body->size() != range.last - range.first + 1 ||
                (signedEntry_ != nullptr && (range.total != signedEntry_->size || range.last > last)))
                return offset_ > 0 ? Fetched::broken : Fetched::untrusted;
            if (total_ != 0 && range.total != total_)
                return resumed_ && firstAnswer ? Fetched::restart : Fetched::untrusted;
            if (total_ == 0) {
                total_ = range.total;
                ResumeRecord record{path_, expectedDigest_, total_, "", ""};
                if (!answer.etag.empty())
                    record.validatorField = "ETag", record.validator = answer.etag;
                else if (!answer.lastModified.empty())
                    record.validatorField = "Last-Modified", record.validator = answer.lastModified;
                writeResumeRecord(localName_, record);
            }
            if (!append(*answer.body))
                return Fetched::untrusted;
            offset_ = range.last + 1;
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
    bool append(const std::string& bytes)
    {
        hash(bytes.data(), bytes.size());
        file_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        // Each piece reaches the file before the next is asked for: a kill keeps whole pieces.
        file_.flush();
        return !file_.fail();
    }

    void hash(const char* data, std::size_t size)
    {
        const std::size_t slice = 1u << 30;  // Md5::update takes 32-bit lengths
        for (std::size_t done = 0; done < size; done += slice)
            md5_.update(data + done, static_cast<std::uint32_t>(size - done < slice ? size - done : slice));
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
};

}  // namespace

bool sendRequest(sf::Http& http, const sf::Http::Request& request, sf::Http::Response& response)
{
    try {
        // Free the previous body first: it would otherwise live on beside the
        // copies the client makes of the next one.
        response = sf::Http::Response();
        response = http.sendRequest(request, sf::Time::Zero);
        return true;
    } catch (const std::exception&) {
        response = sf::Http::Response();  // its status is the client's "connection failed"
        return false;
    }
}

bool isCompleteDownload(const sf::Http::Response& response)
{
    return response.getStatus() == sf::Http::Response::Ok && bodyMatchesDeclaredLength(viewOf(response));
}

bool downloadFile(sf::Http& http, const std::string& uri, const std::string& path, const std::string& expectedDigest,
                  const ReleaseEntry* signedEntry, const std::string& localName, DownloadProgress* progress)
{
    if (!createParentDirectories(localName))
        return false;
    PieceRequester requester(http, uri, signedEntry != nullptr);
    FileFetch fetch(path, expectedDigest, signedEntry, localName, progress);
    if (!fetch.resume() && !fetch.startFromZero())
        return false;
    Fetched fetched = fetch.fetch(requester);
    bool verified = fetched == Fetched::whole && fetch.verified();
    // A resumed file that changed on the server, or whose kept bytes do not
    // give the digest, is fetched once more from zero in the same run.
    if (fetch.resumed() && !verified && (fetched == Fetched::restart || fetched == Fetched::whole)) {
        if (!fetch.startFromZero())
            return false;
        fetched = fetch.fetch(requester);
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
