#include "launcher/log/logged_servers.h"

#include "launcher/http/server_list.h"

namespace {

std::vector<std::unique_ptr<HttpTransport>> connectionsTo(const std::vector<ServerAddress>& servers,
                                                          const ProxySettings& proxies, RunLog& log)
{
    std::vector<std::unique_ptr<HttpTransport>> http;
    for (const ServerAddress& server : servers) {
        const ProxyChoice route = proxyFor(proxies, server.host, server.port);
        log.line(serverName(server) + ": " + route.reason);
        ServerAddress reached = server;
        if (route.origin != ProxyOrigin::none) {
            reached.proxyHost = route.proxy.host;
            reached.proxyPort = route.proxy.port;
        }
        http.push_back(std::make_unique<HttpTransport>(reached));
    }
    return http;
}

std::vector<std::unique_ptr<LoggedTransport>>
logged(const std::vector<ServerAddress>& servers, const std::vector<std::unique_ptr<HttpTransport>>& http, RunLog& log)
{
    std::vector<std::unique_ptr<LoggedTransport>> each;
    for (std::size_t i = 0; i < servers.size(); ++i)
        each.push_back(std::make_unique<LoggedTransport>(*http[i], log, serverName(servers[i])));
    return each;
}

std::vector<Transport*> inOrder(const std::vector<std::unique_ptr<LoggedTransport>>& logged)
{
    std::vector<Transport*> servers;
    for (const auto& server : logged)
        servers.push_back(server.get());
    return servers;
}

}  // namespace

LoggedServers::LoggedServers(const std::vector<ServerAddress>& servers, const ProxySettings& proxies, RunLog& log)
    : http_(connectionsTo(servers, proxies, log)), logged_(logged(servers, http_, log)), failover_(inOrder(logged_))
{
}
