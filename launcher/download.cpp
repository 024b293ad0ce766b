#include "launcher/download.h"

#include "digest/md5.h"
#include "launcher/http_fields.h"
#include "launcher/manifest_path.h"
#include "launcher/platform/platform.h"

#include <cctype>
#include <cstdint>
#include <fstream>
#include <exception>

namespace {

const int rangeNotSatisfiable = 416;

// A missing field means the body runs to the end of the connection.
bool bodyMatchesDeclaredLength(const sf::Http::Response& response)
{
    const std::string& field = response.getField("Content-Length");
    if (field.empty())
        return true;
    unsigned long long declared = 0;
    return parseContentLength(field, declared) && declared == response.getBody().size();
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

// Writes one piece to the file and the digest.
bool append(std::ofstream& file, Md5& md5, const std::string& bytes)
{
    const std::string::size_type slice = 1u << 30;  // Md5::update takes 32-bit lengths
    for (std::string::size_type done = 0; done < bytes.size(); done += slice) {
        const std::string::size_type length = bytes.size() - done < slice ? bytes.size() - done : slice;
        md5.update(bytes.data() + done, static_cast<std::uint32_t>(length));
    }
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return !file.fail();
}

// Where a download is written until it is verified.
std::string temporaryNameFor(const std::string& localName)
{
    return localName + ".orn-partial";
}

// Fetches every byte into `file`, feeding `md5`; false on any answer or
// piece that cannot be trusted.
bool fetchInto(sf::Http& http, const std::string& uri, std::ofstream& file, Md5& md5)
{
    // A request of its own: the Range field must not stick to the reused manifest request.
    sf::Http::Request request(uri, sf::Http::Request::Get, "");
    sf::Http::Response response;
    unsigned long long offset = 0;
    unsigned long long total = 0;
    for (;;) {
        request.setField("Range", "bytes=" + std::to_string(offset) + "-" +
                                      std::to_string(offset + downloadPieceBytes - 1));
        if (!sendRequest(http, request, response))
            return false;

        const int status = response.getStatus();
        const bool firstPiece = offset == 0;
        if (firstPiece && status == sf::Http::Response::Ok)
            return isCompleteDownload(response) && append(file, md5, response.getBody());

        ContentRange range;
        if (firstPiece && status == rangeNotSatisfiable)
            return parseContentRange(response.getField("Content-Range"), range) && !range.satisfied &&
                   range.total == 0;

        if (status != sf::Http::Response::PartialContent || !bodyMatchesDeclaredLength(response) ||
            !parseContentRange(response.getField("Content-Range"), range) || !range.satisfied ||
            range.first != offset || response.getBody().size() != range.last - range.first + 1 ||
            (!firstPiece && range.total != total))
            return false;
        total = range.total;
        if (!append(file, md5, response.getBody()))
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
    return response.getStatus() == sf::Http::Response::Ok && bodyMatchesDeclaredLength(response);
}

bool downloadFile(sf::Http& http, const std::string& uri, const std::string& expectedDigest,
                  const std::string& localName)
{
    if (!createParentDirectories(localName))
        return false;
    const std::string temporaryName = temporaryNameFor(localName);
    // A link left under the temporary name must not be written through.
    platform::removeFile(temporaryName.c_str());

    std::ofstream file(temporaryName, std::ios::out | std::ios::binary | std::ios::trunc);
    Md5 md5;
    bool whole = file && fetchInto(http, uri, file, md5);
    file.close();
    whole = whole && !file.fail() && sameDigest(md5.finalize().hexDigest(), expectedDigest) &&
            platform::replaceFile(temporaryName.c_str(), localName.c_str());
    if (!whole)
        platform::removeFile(temporaryName.c_str());
    return whole;
}
