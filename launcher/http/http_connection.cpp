#include "launcher/http/http_connection.h"

#include "platform/platform.h"

#include <SFML/Network/IpAddress.hpp>

namespace {

const unsigned short httpPort = 80;

}  // namespace

bool HttpConnection::open(const ServerAddress& server)
{
    floor_ = server.floor;
    const sf::Time window = sf::milliseconds(static_cast<sf::Int32>(floor_.windowMilliseconds));
    const bool proxied = !server.proxyHost.empty();
    const std::string& host = proxied ? server.proxyHost : server.host;
    const unsigned short port = proxied ? server.proxyPort : server.port;
    if (socket_.connect(sf::IpAddress(host), port == 0 ? httpPort : port, window) != sf::Socket::Done)
        return false;
    platform::keepSocketAlive(static_cast<unsigned long long>(socket_.getHandle()));
    selector_.add(socket_);
    clock_.restart();
    return true;
}

void HttpConnection::expectAnswer()
{
    clock_.restart();
    windowBytes_ = 0;
    arrived = 0;
    timedOut = false;
}

bool HttpConnection::fill()
{
    if (begin_ < end_)
        return true;
    begin_ = end_ = 0;
    if (!awaitBytes()) {
        brokenOff = timedOut = true;
        return false;
    }
    std::size_t count = 0;
    const sf::Socket::Status status = socket_.receive(buffer_.data(), buffer_.size(), count);
    if (status != sf::Socket::Done) {
        brokenOff = status != sf::Socket::Disconnected;
        return false;
    }
    end_ = count;
    arrived += count;
    countArrived(count);
    return true;
}

bool HttpConnection::readLine(std::string& line, std::size_t limit)
{
    line.clear();
    while (line.size() <= limit && fill()) {
        const char c = buffer_[begin_++];
        line += c;
        if (c == '\n' && line.size() >= 2 && line[line.size() - 2] == '\r') {
            line.resize(line.size() - 2);
            return true;
        }
    }
    return false;
}

// Waits until the socket can be read; false once a window has passed
// with too few bytes (a window starts again each time enough arrived).
bool HttpConnection::awaitBytes()
{
    for (;;) {
        const sf::Int32 left =
            static_cast<sf::Int32>(floor_.windowMilliseconds) - clock_.getElapsedTime().asMilliseconds();
        if (left <= 0)
            return false;
        if (selector_.wait(sf::milliseconds(left)))
            return true;
    }
}

void HttpConnection::countArrived(std::size_t count)
{
    windowBytes_ += count;
    if (windowBytes_ >= floor_.minimumBytes) {
        windowBytes_ = 0;
        clock_.restart();
    }
}
