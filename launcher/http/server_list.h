#pragma once

#include "launcher/http/answer.h"

#include <string>
#include <vector>

// The servers a build names, `host[:port];host[:port]...` in the order they
// are asked; a server without a port has `defaultPort`. The build checks
// the list's form; an element this cannot read is left out, and a list
// with none is read as one host.
std::vector<ServerAddress> serverListFrom(const std::string& list, unsigned short defaultPort,
                                          const RequestFloor& floor);

// "host:port" as the log names a server (port 80 for HTTP's default).
std::string serverName(const ServerAddress& server);
// The list as the log names it: each server's name, separated by ", ".
std::string serverNames(const std::vector<ServerAddress>& servers);
