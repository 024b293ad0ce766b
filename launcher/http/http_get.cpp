#include "launcher/http/http_get.h"

#include "launcher/http/http_fields.h"

#include "platform/platform.h"

#include <SFML/Network/IpAddress.hpp>
#include <SFML/Network/SocketSelector.hpp>
#include <SFML/Network/TcpSocket.hpp>
#include <SFML/System/Clock.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>
#include <vector>

namespace {

const std::size_t maxHeadBytes = 64 * 1024;
const std::size_t maxChunkLineBytes = 4 * 1024;
const unsigned short httpPort = 80;
const int maxInterimAnswers = 8;

std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string& text)
{
    const std::string::size_type first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

enum class Framing { length, chunked, toClose };

// "HTTP/1.x NNN reason": the status, and whether the version keeps the connection.
bool parseStatusLine(const std::string& statusLine, AnswerHead& answer, bool& keepsOpen)
{
    if (statusLine.size() < 12 || statusLine.compare(0, 7, "HTTP/1.") != 0 || statusLine[8] != ' ' ||
        !std::isdigit(static_cast<unsigned char>(statusLine[9])) ||
        !std::isdigit(static_cast<unsigned char>(statusLine[10])) ||
        !std::isdigit(static_cast<unsigned char>(statusLine[11])) || (statusLine.size() > 12 && statusLine[12] != ' '))
        return false;
    answer.status = std::stoi(statusLine.substr(9, 3));
    keepsOpen = statusLine[7] == '1';  // HTTP/1.0 closes unless asked otherwise, and we never ask
    return true;
}

// One "Name: value" field, as far as the launcher needs it; false when the answer cannot be trusted.
bool takeField(const std::string& line, AnswerHead& answer, std::string& transferCoding, bool& keepsOpen)
{
    const std::string::size_type colon = line.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string name = lowerCase(line.substr(0, colon));
    const std::string value = line.substr(colon + 1);
    if (name == "content-length") {
        // Two lengths that differ frame two bodies: no reading of them can be trusted.
        if (!answer.contentLength.empty() && answer.contentLength != trimmed(value))
            return false;
        answer.contentLength = trimmed(value);
    } else if (name == "content-range") {
        answer.contentRange = trimmed(value);
    } else if (name == "etag") {
        answer.etag = trimmed(value);
    } else if (name == "last-modified") {
        answer.lastModified = trimmed(value);
    } else if (name == "transfer-encoding") {  // fields given twice count as one list
        transferCoding += (transferCoding.empty() ? "" : ", ") + lowerCase(trimmed(value));
    } else if (name == "connection" && lowerCase(value).find("close") != std::string::npos) {
        keepsOpen = false;
    }
    return true;
}

// An answer's head, its status line and fields; `keepsOpen`: the server
// leaves the connection open after this answer.
bool parseHead(const std::string& head, AnswerHead& answer, Framing& framing, bool& keepsOpen)
{
    std::string::size_type lineEnd = head.find("\r\n");
    if (!parseStatusLine(head.substr(0, lineEnd), answer, keepsOpen))
        return false;
    std::string transferCoding;
    while (lineEnd != std::string::npos && lineEnd + 2 < head.size()) {
        const std::string::size_type start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        if (!takeField(head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start), answer,
                       transferCoding, keepsOpen))
            return false;
    }
    if (!transferCoding.empty()) {
        // Chunked is the only coding a static file server applies; any other would be read as the file.
        if (transferCoding != "chunked")
            return false;
        framing = Framing::chunked;
        answer.contentLength.clear();  // the chunks frame the body, not a length
    } else {
        framing = answer.contentLength.empty() ? Framing::toClose : Framing::length;
    }
    // These never have a body, whatever their fields say.
    if (answer.status == 204 || answer.status == 304 || answer.status < 200) {
        framing = Framing::length;
        answer.contentLength = "0";
    }
    return true;
}

// A TCP socket whose handle the platform layer may tune.
class TunableSocket : public sf::TcpSocket {
public:
    using sf::TcpSocket::getHandle;
};

}  // namespace

// The answers' bytes as they arrive, through one small buffer.
class HttpConnection {
public:
    bool open(const ServerAddress& server)
    {
        floor_ = server.floor;
        const sf::Time window = sf::milliseconds(static_cast<sf::Int32>(floor_.windowMilliseconds));
        if (socket_.connect(sf::IpAddress(server.host), server.port == 0 ? httpPort : server.port, window) !=
            sf::Socket::Done)
            return false;
        platform::keepSocketAlive(static_cast<unsigned long long>(socket_.getHandle()));
        selector_.add(socket_);
        clock_.restart();
        return true;
    }

    bool send(const std::string& request) { return socket_.send(request.data(), request.size()) == sf::Socket::Done; }

    // Each answer gets its own windows, and its own count of what arrived.
    void expectAnswer()
    {
        clock_.restart();
        windowBytes_ = 0;
        arrived = 0;
        timedOut = false;
    }

    // False at the end of the connection; `brokenOff` tells an error from the server's close.
    bool fill()
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

    std::size_t available() const { return end_ - begin_; }

    // Nothing waits to be read on a connection that sat idle: bytes that came
    // unasked (or the server's close) would be taken for the next answer.
    bool idleClean() { return available() == 0 && !selector_.wait(sf::microseconds(1)); }
    const char* data() const { return buffer_.data() + begin_; }
    void consume(std::size_t count) { begin_ += count; }

    // Reads up to and including "\r\n"; false when none comes within `limit` bytes.
    bool readLine(std::string& line, std::size_t limit)
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

    bool brokenOff = false;
    bool timedOut = false;          // no bytes in a window: a stalled server, not a closed connection
    unsigned long long arrived = 0;  // since the answer was awaited

private:
    // Waits until the socket can be read; false once a window has passed
    // with too few bytes (a window starts again each time enough arrived).
    bool awaitBytes()
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

    void countArrived(std::size_t count)
    {
        windowBytes_ += count;
        if (windowBytes_ >= floor_.minimumBytes) {
            windowBytes_ = 0;
            clock_.restart();
        }
    }

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

namespace {

bool readHead(HttpConnection& connection, std::string& head)
{
    for (std::string line; connection.readLine(line, maxHeadBytes);) {
        if (line.empty())
            return true;
        head += line + "\r\n";
        if (head.size() > maxHeadBytes)
            return false;
    }
    return false;
}

// Hands on up to `count` body bytes (all, when `untilClose`).
AnswerEnd passBody(HttpConnection& connection, unsigned long long count, bool untilClose, AnswerSink& sink)
{
    while (untilClose || count > 0) {
        if (!connection.fill())
            return untilClose && !connection.brokenOff ? AnswerEnd::complete : AnswerEnd::failed;
        std::size_t slice = connection.available();
        if (!untilClose && slice > count)
            slice = static_cast<std::size_t>(count);
        const bool more = sink.takeBody(connection.data(), slice);
        connection.consume(slice);
        count -= untilClose ? 0 : slice;
        if (!more)
            return AnswerEnd::stopped;
    }
    return AnswerEnd::complete;
}

bool parseChunkSize(const std::string& line, unsigned long long& size)
{
    const std::string digits = trimmed(line.substr(0, line.find(';')));
    if (digits.empty() || digits.size() > 15)
        return false;
    size = 0;
    for (const char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        size = size * 16 + static_cast<unsigned long long>(digit);
    }
    return true;
}

AnswerEnd passChunkedBody(HttpConnection& connection, AnswerSink& sink)
{
    std::string line;
    for (;;) {
        unsigned long long size = 0;
        if (!connection.readLine(line, maxChunkLineBytes) || !parseChunkSize(line, size))
            return AnswerEnd::failed;
        if (size == 0)
            break;
        const AnswerEnd end = passBody(connection, size, false, sink);
        if (end != AnswerEnd::complete)
            return end;
        if (!connection.readLine(line, 2) || !line.empty())
            return AnswerEnd::failed;
    }
    // Trailer fields, then the empty line that ends the answer.
    for (std::size_t lines = 0; lines < 100; ++lines) {
        if (!connection.readLine(line, maxChunkLineBytes))
            return AnswerEnd::failed;
        if (line.empty())
            return AnswerEnd::complete;
    }
    return AnswerEnd::failed;
}

// One request on an open connection, and its answer handed to `sink`.
struct Exchange {
    AnswerEnd end = AnswerEnd::failed;
    bool reusable = false;  // the answer ended where its framing says, and the server keeps the connection
    bool closedUnanswered = false;  // the connection ended before a byte of the answer: the server closed it
    // How long the head took to come (a round trip, when the request was just sent) and the body after it.
    double headSeconds = 0;
    double bodySeconds = 0;
    unsigned long long bodyBytes = 0;
};

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The next answer on the connection, handed to `sink`. Reusable says only
// that the server keeps the connection: bytes beyond the answer are the
// caller's to judge (the next answer, when more were asked for).
Exchange receive(HttpConnection& connection, AnswerSink& sink)
{
    Exchange result;
    const bool nothingBuffered = connection.available() == 0;
    connection.expectAnswer();
    const auto started = std::chrono::steady_clock::now();
    AnswerHead answer;
    Framing framing = Framing::toClose;
    bool keepsOpen = false;
    // Interim answers (100 Continue) come before the real one and carry no body.
    for (int heads = 0; answer.status < 200; ++heads) {
        std::string head;
        answer = AnswerHead();
        if (heads == maxInterimAnswers || !readHead(connection, head) ||
            !parseHead(head, answer, framing, keepsOpen) || answer.status < 100) {
            result.closedUnanswered = nothingBuffered && connection.arrived == 0 && !connection.timedOut;
            return result;
        }
    }
    result.headSeconds = secondsSince(started);
    const unsigned long long headBytes = connection.arrived - connection.available();
    if (!sink.takeHead(answer)) {
        result.end = AnswerEnd::stopped;
        return result;
    }
    unsigned long long length = 0;
    switch (framing) {
    case Framing::chunked:
        result.end = passChunkedBody(connection, sink);
        break;
    case Framing::length:
        result.end = parseContentLength(answer.contentLength, length) ? passBody(connection, length, false, sink)
                                                                       : AnswerEnd::failed;
        break;
    case Framing::toClose:
        result.end = passBody(connection, 0, true, sink);
        keepsOpen = false;
        break;
    }
    result.reusable = result.end == AnswerEnd::complete && keepsOpen;
    result.bodySeconds = secondsSince(started) - result.headSeconds;
    result.bodyBytes = connection.arrived - connection.available() - headBytes;
    return result;
}

Exchange exchange(HttpConnection& connection, const std::string& request, AnswerSink& sink)
{
    if (!connection.send(request)) {
        Exchange result;
        result.closedUnanswered = true;
        return result;
    }
    Exchange result = receive(connection, sink);
    // Bytes beyond the answer belong to no request of ours: such a connection is not used again.
    result.reusable = result.reusable && connection.available() == 0;
    return result;
}

std::string requestText(const ServerAddress& server, const std::string& uri, const HeaderFields& fields)
{
    // A port other than HTTP's own is part of the host's name: a cache keys its copies by it.
    const std::string host =
        server.host + (server.port == 0 || server.port == 80 ? "" : ":" + std::to_string(server.port));
    // Named with its version, so that server logs and firewalls tell launchers apart.
    std::string request =
        "GET " + uri + " HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: ORN_Launcher/" LAUNCHER_VERSION "\r\n";
    for (const auto& field : fields)
        request += field.first + ": " + field.second + "\r\n";
    return request + "\r\n";
}

}  // namespace

HttpClient::HttpClient(const ServerAddress& server) : server_(server) {}

HttpClient::~HttpClient() = default;

AnswerEnd HttpClient::get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink)
{
    const std::string request = requestText(server_, uri, fields);
    try {
        if (connection_ != nullptr && !connection_->idleClean())
            connection_.reset();
        const bool reused = connection_ != nullptr;
        Exchange done = openConnection() ? exchange(*connection_, request, sink) : Exchange();
        // A kept connection that the server closed meanwhile (its keep-alive
        // limit or timeout): the request once more, on a new one.
        if (reused && done.closedUnanswered) {
            connection_.reset();
            done = openConnection() ? exchange(*connection_, request, sink) : Exchange();
        }
        if (!done.reusable)
            connection_.reset();
        measure(done.end, done.headSeconds, done.bodySeconds, done.bodyBytes);
        return done.end;
    } catch (const std::exception&) {
        connection_.reset();
        return AnswerEnd::failed;  // out of memory, say: a failed request, never the end of the run
    }
}

void HttpClient::getInOrder(const std::vector<Request>& requests, const SinkFor& sinkFor,
                            std::vector<AnswerEnd>& ends)
{
    ends.assign(requests.size(), AnswerEnd::failed);
    std::size_t answered = 0;
    try {
        answered = pipeline(requests, sinkFor, ends);
    } catch (const std::exception&) {
        connection_.reset();
        return;
    }
    // One at a time from where the pipeline stopped: a server that closed it, or one that never kept it.
    for (; answered < requests.size(); ++answered) {
        AnswerSink* const sink = sinkFor(answered);
        if (sink == nullptr)
            return;
        ends[answered] = get(requests[answered].uri, requests[answered].fields, *sink);
    }
}

// Up to pipelineDepth requests ahead of their answers, on a connection that
// was kept before; how many answers were taken. The first close, cut
// answer or stop ends it, and a close also ends pipelining for this client.
std::size_t HttpClient::pipeline(const std::vector<Request>& requests, const SinkFor& sinkFor,
                                 std::vector<AnswerEnd>& ends)
{
    std::size_t sent = 0;
    std::size_t answered = 0;
    if (connection_ != nullptr && !connection_->idleClean())
        connection_.reset();
    while (pipelining_ && connection_ != nullptr && answered < requests.size()) {
        for (; sent < requests.size() && sent - answered < pipelineDepth; ++sent) {
            if (!connection_->send(requestText(server_, requests[sent].uri, requests[sent].fields)))
                break;
        }
        if (sent == answered)
            break;
        AnswerSink* const sink = sinkFor(answered);
        if (sink == nullptr) {
            connection_.reset();  // answers asked for and not wanted: nothing more is read of them
            return requests.size();
        }
        const Exchange done = receive(*connection_, *sink);
        if (done.closedUnanswered)
            break;  // the request goes again, alone
        ends[answered++] = done.end;
        if (!done.reusable) {
            pipelining_ = pipelining_ && (done.end != AnswerEnd::complete || sent == answered);
            connection_.reset();
            return answered;
        }
    }
    if (sent > answered) {
        pipelining_ = false;
        connection_.reset();
    } else if (connection_ != nullptr && connection_->available() > 0) {
        connection_.reset();  // bytes that answer nothing asked
    }
    return answered;
}

// The path's round trip (the quickest head after a request sent alone) and
// rate (the fastest body of a size worth timing), from the run's own answers.
void HttpClient::measure(AnswerEnd end, double headSeconds, double bodySeconds, unsigned long long bodyBytes)
{
    const unsigned long long timedBodyBytes = 256 * 1024;
    if (end != AnswerEnd::complete)
        return;
    if (roundTripSeconds_ == 0 || headSeconds < roundTripSeconds_)
        roundTripSeconds_ = headSeconds;
    if (bodyBytes >= timedBodyBytes && bodySeconds > 0)
        bytesPerSecond_ = std::max(bytesPerSecond_, static_cast<double>(bodyBytes) / bodySeconds);
}

unsigned long long HttpClient::bytesPerRoundTrip() const
{
    return static_cast<unsigned long long>(bytesPerSecond_ * roundTripSeconds_);
}

bool HttpClient::openConnection()
{
    if (connection_ != nullptr)
        return true;
    connection_ = std::make_unique<HttpConnection>();
    if (connection_->open(server_)) {
        ++connectionsOpened_;
        return true;
    }
    connection_.reset();
    return false;
}

bool TextAnswer::takeHead(const AnswerHead& answerHead)
{
    head = answerHead;
    return true;
}

bool TextAnswer::takeBody(const char* data, std::size_t size)
{
    if (size > limit_ - body.size()) {
        body.append(data, limit_ - body.size());
        overflowed = true;
        return false;
    }
    body.append(data, size);
    return true;
}
