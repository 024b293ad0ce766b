#include "launcher/http/machine_proxy_settings.h"

#include "platform/internet_settings.h"

#include <cstdlib>

namespace {

// The lower-case name first, as most programs read it; an empty value counts as unset.
bool readVariable(const char* lower, const char* upper, std::string& name, std::string& value)
{
    for (const char* candidate : {lower, upper}) {
        const char* found = std::getenv(candidate);
        if (found != nullptr && *found != '\0') {
            name = candidate;
            value = found;
            return true;
        }
    }
    return false;
}

}  // namespace

ProxySettings machineProxySettings()
{
    ProxySettings settings;
    readVariable("http_proxy", "HTTP_PROXY", settings.environmentName, settings.environmentProxy);
    std::string bypassName;
    readVariable("no_proxy", "NO_PROXY", bypassName, settings.environmentBypass);
    const platform::InternetSettings windows = platform::internetSettings();
    settings.windowsEnabled = windows.proxyEnabled;
    settings.windowsServer = windows.proxyServer;
    settings.windowsOverride = windows.proxyOverride;
    return settings;
}
