#pragma once

#include "launcher/http/proxy_settings.h"

// The proxy settings of this process's environment and of the player's Windows account.
ProxySettings machineProxySettings();
