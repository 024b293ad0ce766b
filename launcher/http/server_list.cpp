#include "launcher/http/server_list.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool readServer(const std::string& text, unsigned short defaultPort, const RequestFloor& floor, ServerAddress& server)
{
    const std::size_t colon = text.find(':');
    server = {text.substr(0, colon), defaultPort, floor};
    if (colon == std::string::npos)
        return !server.host.empty();
    const std::string port = text.substr(colon + 1);
    char* end = nullptr;
    const unsigned long number = std::strtoul(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || number > 65535)
        return false;
    server.port = static_cast<unsigned short>(number);
    return !server.host.empty();
}

}  // namespace

std::vector<ServerAddress> serverListFrom(const std::string& list, unsigned short defaultPort,
                                          const RequestFloor& floor)
{
    std::vector<ServerAddress> servers;
    std::size_t begin = 0;
    while (begin <= list.size()) {
        const std::size_t end = std::min(list.find(';', begin), list.size());
        ServerAddress server;
        if (readServer(list.substr(begin, end - begin), defaultPort, floor, server))
            servers.push_back(server);
        begin = end + 1;
    }
    if (servers.empty())
        servers.push_back({list, defaultPort, floor});
    return servers;
}

std::string serverName(const ServerAddress& server)
{
    return server.host + ":" + std::to_string(server.port == 0 ? 80 : server.port);
}

std::string serverNames(const std::vector<ServerAddress>& servers)
{
    std::string names;
    for (const ServerAddress& server : servers)
        names += (names.empty() ? "" : ", ") + serverName(server);
    return names;
}
