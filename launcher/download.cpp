#include "launcher/download.h"

#include <fstream>

namespace {

// A missing field means the body runs to the end of the connection; a
// field that is not a plain decimal number cannot vouch for the body.
bool declaredLengthMatches(const std::string& field, std::string::size_type bodyLength)
{
    std::string::size_type first = field.find_first_not_of(" \t");
    if (first == std::string::npos)
        return field.empty();
    const std::string::size_type last = field.find_last_not_of(" \t");
    unsigned long long declared = 0;
    for (std::string::size_type i = first; i <= last; ++i) {
        const char c = field[i];
        if (c < '0' || c > '9' || declared > (~0ULL - 9) / 10)
            return false;
        declared = declared * 10 + static_cast<unsigned long long>(c - '0');
    }
    return declared == bodyLength;
}

}  // namespace

bool isCompleteDownload(const sf::Http::Response& response)
{
    return response.getStatus() == sf::Http::Response::Ok &&
           declaredLengthMatches(response.getField("Content-Length"), response.getBody().size());
}

bool saveFile(const std::string& localName, const std::string& bytes)
{
    std::ofstream file(localName, std::ios::out | std::ios::binary);
    if (!file)
        return false;
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
}
