#pragma once

#include "launcher/http/failover_transport.h"
#include "launcher/http/http_transport.h"
#include "launcher/http/proxy_settings.h"
#include "launcher/log/logged_transport.h"
#include "launcher/log/run_log.h"

#include <memory>
#include <vector>

// The build's servers, each over a kept connection of its own (through the
// proxy the player's settings name for it, which the log tells) with its
// requests logged under its name, behind the one transport that asks the
// next when one fails.
class LoggedServers {
public:
    LoggedServers(const std::vector<ServerAddress>& servers, const ProxySettings& proxies, RunLog& log);
    Transport& transport() { return failover_; }

private:
    std::vector<std::unique_ptr<HttpTransport>> http_;
    std::vector<std::unique_ptr<LoggedTransport>> logged_;
    FailoverTransport failover_;
};
