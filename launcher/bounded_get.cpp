#include "launcher/bounded_get.h"

#include <SFML/Network/IpAddress.hpp>
#include <SFML/Network/TcpSocket.hpp>

#include <cctype>

namespace {

const std::size_t maxHeadBytes = 64 * 1024;
const unsigned short httpPort = 80;

std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "HTTP/1.x NNN reason" and "Name: value" lines, as far as the download checks need them.
bool parseHead(const std::string& head, BoundedAnswer& answer)
{
    std::string::size_type lineEnd = head.find("\r\n");
    const std::string statusLine = head.substr(0, lineEnd);
    if (statusLine.size() < 12 || statusLine.compare(0, 7, "HTTP/1.") != 0 || statusLine[8] != ' ' ||
        !std::isdigit(static_cast<unsigned char>(statusLine[9])) ||
        !std::isdigit(static_cast<unsigned char>(statusLine[10])) ||
        !std::isdigit(static_cast<unsigned char>(statusLine[11])))
        return false;
    answer.status = std::stoi(statusLine.substr(9, 3));
    while (lineEnd != std::string::npos && lineEnd + 2 < head.size()) {
        const std::string::size_type start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const std::string::size_type colon = line.find(':');
        if (colon == std::string::npos)
            return false;
        const std::string name = lowerCase(line.substr(0, colon));
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        if (name == "content-length")
            answer.contentLength = value;
        else if (name == "content-range")
            answer.contentRange = value;
        else if (name == "etag")
            answer.etag = value;
        else if (name == "last-modified")
            answer.lastModified = value;
        else if (name == "transfer-encoding")
            return false;  // never asked for; its framing would count as body bytes
    }
    return true;
}

}  // namespace

bool boundedGet(const std::string& host, unsigned short port, const std::string& uri, const std::string& range,
                const std::pair<std::string, std::string>& condition, std::size_t maxBodyBytes,
                BoundedAnswer& answer)
{
    answer = BoundedAnswer();
    sf::TcpSocket socket;
    if (socket.connect(sf::IpAddress(host), port == 0 ? httpPort : port) != sf::Socket::Done)
        return false;
    const std::string request = "GET " + uri + " HTTP/1.1\r\nHost: " + host + "\r\nRange: " + range +
                                (condition.first.empty() ? "" : "\r\n" + condition.first + ": " + condition.second) + "\r\nConnection: close\r\n\r\n";
    if (socket.send(request.data(), request.size()) != sf::Socket::Done)
        return false;

    std::string received;
    std::string::size_type headEnd = std::string::npos;
    char buffer[64 * 1024];
    std::size_t count = 0;
    while (socket.receive(buffer, sizeof buffer, count) == sf::Socket::Done) {
        received.append(buffer, count);
        if (headEnd == std::string::npos) {
            headEnd = received.find("\r\n\r\n");
            if (headEnd == std::string::npos) {
                if (received.size() > maxHeadBytes)
                    return false;
                continue;
            }
            if (!parseHead(received.substr(0, headEnd), answer))
                return false;
            received.erase(0, headEnd + 4);
        }
        if (received.size() > maxBodyBytes)
            return false;  // more than any trustworthy answer holds: stop reading here
    }
    if (headEnd == std::string::npos)
        return false;
    answer.body.swap(received);
    return true;
}
