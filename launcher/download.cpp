#include "launcher/download.h"

#include "channel/sha256.h"
#include "digest/md5.h"
#include "launcher/bounded_get.h"
#include "launcher/build_constants.h"
#include "launcher/http_fields.h"
#include "launcher/parent_directories.h"
#include "launcher/platform/platform.h"
#include "launcher/remote_paths.h"

#include <cctype>
#include <cstdint>
#include <fstream>
#include <exception>

namespace {

const int rangeNotSatisfiable = 416;

// What the checks read of one answer, from the HTTP client or a bounded request.
struct PieceAnswer {
    int status = 0;
    std::string contentLength;
    std::string contentRange;
    const std::string* body = nullptr;
};

PieceAnswer viewOf(const sf::Http::Response& response)
{
    return {response.getStatus(), response.getField("Content-Length"), response.getField("Content-Range"),
            &response.getBody()};
}

// A missing field means the body runs to the end of the connection.
bool bodyMatchesDeclaredLength(const PieceAnswer& answer)
{
    if (answer.contentLength.empty())
        return true;
    unsigned long long declared = 0;
    return parseContentLength(answer.contentLength, declared) && declared == answer.body->size();
}

bool sameDigest(const std::string& actual, const std::string& expected)
{
    if (actual.size() != expected.size())
        return false;
    for (std::string::size_type i = 0; i < actual.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(actual[i])) != std::tolower(static_cast<unsigned char>(expected[i])))
            return false;
    }
    return true;
}

// Writes one piece to the file and the digests.
// The SHA-256 is computed only under a signed release (`sha256` null otherwise).
bool append(std::ofstream& file, Md5& md5, Sha256* sha256, const std::string& bytes)
{
    const std::string::size_type slice = 1u << 30;  // Md5::update takes 32-bit lengths
    for (std::string::size_type done = 0; done < bytes.size(); done += slice) {
        const std::string::size_type length = bytes.size() - done < slice ? bytes.size() - done : slice;
        md5.update(bytes.data() + done, static_cast<std::uint32_t>(length));
    }
    if (sha256 != nullptr)
        sha256->update(bytes.data(), bytes.size());
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return !file.fail();
}

// Where a download is written until it is verified.
std::string temporaryNameFor(const std::string& localName)
{
    return localName + ".orn-partial";
}

// Asks for bytes first..last: through the HTTP client, or, under a signed
// release, through a request that stops reading past `maxBodyBytes`.
class PieceRequester {
public:
    PieceRequester(sf::Http& http, const std::string& uri, bool bounded)
        : http_(http), request_(uri, sf::Http::Request::Get, ""), uri_(uri), bounded_(bounded)
    {
    }

    bool ask(unsigned long long first, unsigned long long last, unsigned long long maxBodyBytes, PieceAnswer& answer)
    {
        const std::string range = "bytes=" + std::to_string(first) + "-" + std::to_string(last);
        if (bounded_) {
            if (!boundedGet(serverHost, buildServerPort, uri_, range, static_cast<std::size_t>(maxBodyBytes), boundedAnswer_))
                return false;
            answer = {boundedAnswer_.status, boundedAnswer_.contentLength, boundedAnswer_.contentRange, &boundedAnswer_.body};
            return true;
        }
        // A request of its own: the Range field must not stick to the reused manifest request.
        request_.setField("Range", range);
        if (!sendRequest(http_, request_, response_))
            return false;
        answer = viewOf(response_);
        return true;
    }

private:
    sf::Http& http_;
    sf::Http::Request request_;
    sf::Http::Response response_;
    BoundedAnswer boundedAnswer_;
    std::string uri_;
    bool bounded_;
};

// Fetches every byte into `file`, feeding the digests; false on any answer
// or piece that cannot be trusted. With a signed size, never asks past it
// and takes no answer that disagrees with it.
bool fetchInto(sf::Http& http, const std::string& uri, const ReleaseEntry* signedEntry, std::ofstream& file,
               Md5& md5, Sha256* sha256)
{
    if (signedEntry != nullptr && signedEntry->size == 0)
        return true;  // nothing to ask for; the digests decide
    PieceRequester requester(http, uri, signedEntry != nullptr);
    PieceAnswer answer;
    unsigned long long offset = 0;
    unsigned long long total = 0;
    for (;;) {
        unsigned long long last = offset + downloadPieceBytes - 1;
        if (signedEntry != nullptr && last >= signedEntry->size)
            last = signedEntry->size - 1;
        const bool firstPiece = offset == 0;
        // A whole-file answer to the first request may carry the signed size; a piece, what was asked.
        const unsigned long long maxBody = firstPiece && signedEntry != nullptr && signedEntry->size > last + 1
                                               ? signedEntry->size
                                               : last - offset + 1;
        if (!requester.ask(offset, last, maxBody, answer))
            return false;

        if (firstPiece && answer.status == sf::Http::Response::Ok)
            return bodyMatchesDeclaredLength(answer) &&
                   (signedEntry == nullptr || answer.body->size() == signedEntry->size) &&
                   append(file, md5, sha256, *answer.body);

        ContentRange range;
        if (firstPiece && answer.status == rangeNotSatisfiable)
            return parseContentRange(answer.contentRange, range) && !range.satisfied && range.total == 0;

        if (answer.status != sf::Http::Response::PartialContent || !bodyMatchesDeclaredLength(answer) ||
            !parseContentRange(answer.contentRange, range) || !range.satisfied || range.first != offset ||
            answer.body->size() != range.last - range.first + 1 || (!firstPiece && range.total != total) ||
            (signedEntry != nullptr && (range.total != signedEntry->size || range.last > last)))
            return false;
        total = range.total;
        if (!append(file, md5, sha256, *answer.body))
            return false;
        offset = range.last + 1;
        if (offset == total)
            return true;
    }
}

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

bool downloadFile(sf::Http& http, const std::string& uri, const std::string& expectedDigest,
                  const ReleaseEntry* signedEntry, const std::string& localName)
{
    if (!createParentDirectories(localName))
        return false;
    const std::string temporaryName = temporaryNameFor(localName);
    // A link left under the temporary name must not be written through.
    platform::removeFile(temporaryName.c_str());

    std::ofstream file;
    platform::openForWriting(file, temporaryName);
    Md5 md5;
    Sha256 sha256;
    bool whole = file && fetchInto(http, uri, signedEntry, file, md5, signedEntry != nullptr ? &sha256 : nullptr);
    file.close();
    whole = whole && !file.fail() && sameDigest(md5.finalize().hexDigest(), expectedDigest) &&
            (signedEntry == nullptr || sha256.hexDigest() == signedEntry->sha256) &&
            platform::replaceFile(temporaryName.c_str(), localName.c_str());
    if (!whole)
        platform::removeFile(temporaryName.c_str());
    return whole;
}
