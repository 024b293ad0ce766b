// The failover beneath every request, over two scripted servers: what the
// caller's sinks see when the first fails, and the list a build names.
#include "launcher/http/failover_transport.h"
#include "launcher/http/server_list.h"

#include "tests/support/scripted_transport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const std::string file = "0123456789";

struct SeenAnswer : AnswerSink {
    bool takeHead(const AnswerHead& head) override
    {
        statuses.push_back(head.status);
        return true;
    }
    bool takeBody(const char* data, std::size_t size) override
    {
        body.append(data, size);
        return true;
    }
    std::vector<int> statuses;
    std::string body;
};

ScriptedAnswer pieceOf(unsigned first, unsigned last)
{
    ScriptedAnswer piece = answer(206, file.substr(first, last - first + 1));
    piece.contentRange = "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/10";
    return piece;
}

struct Failing {
    const char* name;
    std::function<void(ScriptedTransport&)> first;  // the first server's script for "/f"
    std::vector<std::string> askedOfSecond;
};
const Failing failings[] = {
    {"down", [](ScriptedTransport&) {}, {"0-3", "4-7", "8-9"}},
    {"busy", [](ScriptedTransport& first) { first.route("/f", {answer(503, "busy")}); }, {"0-3", "4-7", "8-9"}},
    {"busy after one piece",
     [](ScriptedTransport& first) {
         first.route("/f", {pieceOf(0, 3), answer(502)});
     },
     {"4-7", "8-9"}},
    {"stalled before a body",
     [](ScriptedTransport& first) { first.route("/f", {answer(206, "", false)}); },
     {"0-3", "4-7", "8-9"}},
};

TEST(FailoverTransport, TheCallerSeesOnlyTheAnswersItKeeps)
{
    for (const Failing& c : failings) {
        SCOPED_TRACE(c.name);
        ScriptedTransport first;
        ScriptedTransport second;
        c.first(first);
        second.serveFile("/f", file);
        FailoverTransport servers({&first, &second});
        std::vector<SeenAnswer> seen(3);
        std::vector<AnswerEnd> ends;
        servers.askInOrder(
            {{"/f", 0, 3}, {"/f", 4, 7}, {"/f", 8, 9}},
            [&](std::size_t i) {
                if (i > 0) {
                    EXPECT_EQ(ends[i - 1], AnswerEnd::complete) << "an answer's end is told before the next is read";
                }
                return &seen[i];
            },
            ends);
        EXPECT_EQ(ends, std::vector<AnswerEnd>(3, AnswerEnd::complete));
        EXPECT_EQ(seen[0].body + seen[1].body + seen[2].body, file);
        for (const SeenAnswer& answer : seen)
            EXPECT_EQ(answer.statuses, std::vector<int>{206});
        EXPECT_EQ(second.asked, c.askedOfSecond);
        EXPECT_EQ(servers.current(), 1u);

        SeenAnswer whole;  // and one request alone, from the server kept
        EXPECT_EQ(servers.get("/f", {}, whole), AnswerEnd::complete);
        EXPECT_EQ(whole.statuses, std::vector<int>{200});
        EXPECT_EQ(first.requests.size(), c.askedOfSecond.size() == 3 ? 1u : 2u);
    }
}

TEST(FailoverTransport, TheLastServersAnswerIsTheCallersAndOneServerIsAskedAlone)
{
    ScriptedTransport first({answer(503, "busy")});
    ScriptedTransport second({answer(500, "down")});
    FailoverTransport servers({&first, &second});
    SeenAnswer seen;
    EXPECT_EQ(servers.get("/f", {}, seen), AnswerEnd::complete);
    EXPECT_EQ(seen.statuses, std::vector<int>{500});
    EXPECT_EQ(seen.body, "down");
    FailoverTransport alone({&first});
    SeenAnswer busy;
    alone.passOver();
    EXPECT_EQ(alone.get("/f", {}, busy), AnswerEnd::complete);
    EXPECT_EQ(busy.statuses, std::vector<int>{503});
    EXPECT_EQ(alone.serverCount(), 1u);

    // What the layers above pass over goes to the next server that answers, not to one found down.
    ScriptedTransport down;
    ScriptedTransport up({answer(200, "up")});
    ScriptedTransport other({answer(200, "other")});
    FailoverTransport three({&down, &up, &other});
    SeenAnswer fromUp;
    EXPECT_EQ(three.get("/f", {}, fromUp), AnswerEnd::complete);
    EXPECT_EQ(fromUp.body, "up");
    three.passOver();
    EXPECT_EQ(three.current(), 2u);
    three.passOver();
    EXPECT_EQ(three.current(), 1u);
    three.passOver();
    other.route("/g", {});  // and when the one asked fails, the one found down is asked last
    SeenAnswer again;
    EXPECT_EQ(three.get("/g", {}, again), AnswerEnd::complete);
    EXPECT_EQ(again.body, "up");
    EXPECT_EQ(down.requests.size(), 1u);
}

TEST(ServerList, ReadsEachServerInOrder)
{
    const std::vector<ServerAddress> servers = serverListFrom("a.example;b.example:8081;127.0.0.1:80", 8080, {1, 2});
    ASSERT_EQ(servers.size(), 3u);
    EXPECT_EQ(serverNames(servers), "a.example:8080, b.example:8081, 127.0.0.1:80");
    EXPECT_EQ(servers[0].floor.windowMilliseconds, 1u);
    EXPECT_EQ(serverNames(serverListFrom("localhost", 0, requestFloor)), "localhost:80");
}

}  // namespace
