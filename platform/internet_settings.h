#pragma once

#include <string>

namespace platform {

// The proxy of the player's per-user Internet Settings, as Windows' own HTTP stack keeps them
// (HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings); other systems have none.
struct InternetSettings {
    bool proxyEnabled = false;  // ProxyEnable
    std::string proxyServer;    // ProxyServer, UTF-8
    std::string proxyOverride;  // ProxyOverride, UTF-8
};

InternetSettings internetSettings();

}  // namespace platform
