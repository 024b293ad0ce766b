#pragma once

#include "launcher/http/answer.h"

#include <SFML/Network/SocketSelector.hpp>
#include <SFML/Network/TcpSocket.hpp>
#include <SFML/System/Clock.hpp>

#include <cstddef>
#include <string>
#include <vector>

// One connection to the server, and the answers' bytes as they arrive,
// through one small buffer. A server that sends fewer bytes than the
// request floor asks for in a window has stalled: reading ends there.
class HttpConnection {
public:
    // To the server's proxy, where it has one.
    bool open(const ServerAddress& server);

    bool send(const std::string& request) { return socket_.send(request.data(), request.size()) == sf::Socket::Done; }

    // Each answer gets its own windows, and its own count of what arrived.
    void expectAnswer();

    // False at the end of the connection; `brokenOff` tells an error from the server's close.
    bool fill();

    std::size_t available() const { return end_ - begin_; }

    // Nothing waits to be read on a connection that sat idle: bytes that came
    // unasked (or the server's close) would be taken for the next answer.
    bool idleClean() { return available() == 0 && !selector_.wait(sf::microseconds(1)); }
    const char* data() const { return buffer_.data() + begin_; }
    void consume(std::size_t count) { begin_ += count; }

    // Reads up to and including "\r\n"; false when none comes within `limit` bytes.
    bool readLine(std::string& line, std::size_t limit);

    bool brokenOff = false;
    bool timedOut = false;           // no bytes in a window: a stalled server, not a closed connection
    unsigned long long arrived = 0;  // since the answer was awaited

private:
    // A TCP socket whose handle the platform layer may tune.
    class TunableSocket : public sf::TcpSocket {
    public:
        using sf::TcpSocket::getHandle;
    };

    bool awaitBytes();
    void countArrived(std::size_t count);

    TunableSocket socket_;
    sf::SocketSelector selector_;
    sf::Clock clock_;
    RequestFloor floor_ = requestFloor;
    std::size_t windowBytes_ = 0;
    // Large enough that a fast transfer costs few system calls (each one dearer under Wine).
    std::vector<char> buffer_ = std::vector<char>(256 * 1024);
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};
