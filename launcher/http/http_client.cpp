#include "launcher/http/http_client.h"

#include "launcher/http/http_connection.h"
#include "launcher/http/http_exchange.h"

#include <exception>

namespace {

std::string requestText(const ServerAddress& server, const std::string& uri, const HeaderFields& fields)
{
    // A port other than HTTP's own is part of the host's name: a cache keys its copies by it.
    const std::string host =
        server.host + (server.port == 0 || server.port == 80 ? "" : ":" + std::to_string(server.port));
    // A proxy is asked for the server's URL in full; the Host field names the server either way.
    const std::string target = server.proxyHost.empty() ? uri : "http://" + host + uri;
    // Named with its version, so that server logs and firewalls tell launchers apart.
    std::string request =
        "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: ORN_Launcher/" LAUNCHER_VERSION "\r\n";
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
        Exchange done = openConnection() ? sendAndReceive(*connection_, request, sink) : Exchange();
        // A kept connection that the server closed meanwhile (its keep-alive
        // limit or timeout): the request once more, on a new one.
        if (reused && done.closedUnanswered) {
            connection_.reset();
            done = openConnection() ? sendAndReceive(*connection_, request, sink) : Exchange();
        }
        answersOnConnection_ += done.end == AnswerEnd::complete ? 1 : 0;
        if (!done.reusable)
            connection_.reset();
        speed_.take(done.end, done.headSeconds, done.bodySeconds, done.bodyBytes);
        return done.end;
    } catch (const std::exception&) {
        connection_.reset();
        return AnswerEnd::failed;  // out of memory, say: a failed request, never the end of the run
    }
}

void HttpClient::getInOrder(const std::vector<Request>& requests, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends)
{
    ends.assign(requests.size(), AnswerEnd::failed);
    sendingStopped_ = false;
    std::size_t answered = 0;
    bool pipelined = true;
    while (answered < requests.size() && !sendingStopped_) {
        if (pipelined) {
            keepAliveLimitMet_ = false;
            try {
                answered = pipeline(requests, answered, sinkFor, ends);
            } catch (const std::exception&) {
                connection_.reset();
                return;
            }
            if (answered == requests.size() || sendingStopped_)
                return;
            // Only a server that ended a connection at its keep-alive limit is pipelined again on a new one.
            pipelined = keepAliveLimitMet_;
        }
        // One at a time from where the pipeline stopped: a server that closed it, or one that never kept it.
        AnswerSink* const sink = sinkFor(answered);
        if (sink == nullptr)
            return;
        ends[answered] = get(requests[answered].uri, requests[answered].fields, *sink);
        ++answered;
    }
}

// From request `first` on, up to pipelineDepth requests ahead of their
// answers, on a connection that was kept before; how many answers were
// taken in all. The first close, cut answer or stop ends it, and a close
// within a pipeline's depth of answers also ends pipelining for this client.
std::size_t HttpClient::pipeline(const std::vector<Request>& requests, std::size_t first, const SinkFor& sinkFor,
                                 std::vector<AnswerEnd>& ends)
{
    std::size_t sent = first;
    std::size_t answered = first;
    if (connection_ != nullptr && !connection_->idleClean())
        connection_.reset();
    while (pipelining_ && connection_ != nullptr && answered < requests.size()) {
        for (; !sendingStopped_ && sent < requests.size() && sent - answered < pipelineDepth; ++sent) {
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
        const Exchange done = receiveAnswer(*connection_, *sink);
        if (done.closedUnanswered)
            break;  // the request goes again, alone
        ends[answered++] = done.end;
        ++answersOnConnection_;
        if (!done.reusable) {
            // A keep-alive limit of many answers (Apache's is 100) is no fault of pipelining.
            const bool keptMany = done.end == AnswerEnd::complete && answersOnConnection_ > pipelineDepth;
            pipelining_ = pipelining_ && (done.end != AnswerEnd::complete || sent == answered || keptMany);
            keepAliveLimitMet_ = keptMany && sent > answered;
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

bool HttpClient::openConnection()
{
    if (connection_ != nullptr)
        return true;
    connection_ = std::make_unique<HttpConnection>();
    answersOnConnection_ = 0;
    connectFailed_ = !connection_->open(server_);
    if (!connectFailed_)
        return true;
    connection_.reset();
    return false;
}
