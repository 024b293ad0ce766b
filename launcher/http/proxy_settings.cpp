#include "launcher/http/proxy_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The non-empty pieces of `text` between any of `separators`.
std::vector<std::string> pieces(const std::string& text, const char* separators)
{
    std::vector<std::string> found;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = std::min(text.find_first_of(separators, begin), text.size());
        if (end > begin)
            found.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return found;
}

bool readPort(const std::string& text, unsigned short& port)
{
    char* end = nullptr;
    const unsigned long number = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' || number == 0 ||
        number > 65535)
        return false;
    port = static_cast<unsigned short>(number);
    return true;
}

// A host name or IPv4 address: nothing a request line or the console could take for something else.
bool plainHost(const std::string& host)
{
    return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '-' || c == '_';
    });
}

bool readHostAndPort(const std::string& text, ProxyAddress& proxy)
{
    const std::size_t colon = text.rfind(':');
    proxy = ProxyAddress{text.substr(0, colon), 80};
    if (colon != std::string::npos && !readPort(text.substr(colon + 1), proxy.port))
        return false;
    return plainHost(proxy.host);
}

// Matches `pattern` with '*' standing for any run of characters; both lowered.
bool wildcardMatch(const std::string& pattern, const std::string& text)
{
    std::size_t p = 0, t = 0, starAt = std::string::npos, resumeAt = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (starAt != std::string::npos) {
            p = starAt + 1;
            t = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool isLoopback(const std::string& host)
{
    return host == "localhost" || host.rfind("127.", 0) == 0 || host == "::1" || host == "[::1]";
}

bool bypassEntryCovers(std::string entry, const std::string& host, unsigned short port)
{
    if (entry == "*")
        return true;
    const std::size_t colon = entry.rfind(':');
    unsigned short onlyPort = 0;
    if (colon != std::string::npos) {
        if (!readPort(entry.substr(colon + 1), onlyPort))
            return false;
        entry.resize(colon);
    }
    if (onlyPort != 0 && onlyPort != (port == 0 ? 80 : port))
        return false;
    if (entry.rfind("*.", 0) == 0)
        entry.erase(0, 1);
    if (!entry.empty() && entry[0] == '.')
        entry.erase(0, 1);
    if (entry.empty() || host == entry)
        return !entry.empty();
    // An address stands for itself alone: "0.0.1" is no suffix of "127.0.0.1".
    const bool address = host.find_first_not_of("0123456789.") == std::string::npos;
    return !address && host.size() > entry.size() &&
           host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
           host[host.size() - entry.size() - 1] == '.';
}

}  // namespace

bool parseProxyUrl(const std::string& text, ProxyAddress& proxy)
{
    std::string rest = text;
    const std::size_t scheme = rest.find("://");
    if (scheme != std::string::npos) {
        if (lowered(rest.substr(0, scheme)) != "http")
            return false;  // a TLS or SOCKS proxy: nothing this launcher speaks
        rest.erase(0, scheme + 3);
    }
    rest = rest.substr(0, rest.find('/'));
    const std::size_t credentials = rest.rfind('@');
    if (credentials != std::string::npos)
        rest.erase(0, credentials + 1);  // never sent: a proxy that wants them answers 407, told to the player
    return readHostAndPort(rest, proxy);
}

bool parseWindowsProxyServer(const std::string& text, ProxyAddress& proxy)
{
    std::string forEveryScheme;
    for (const std::string& entry : pieces(text, "; \t")) {
        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos)
            forEveryScheme = entry;
        else if (lowered(entry.substr(0, equals)) == "http")
            return parseProxyUrl(entry.substr(equals + 1), proxy);
    }
    return !forEveryScheme.empty() && parseProxyUrl(forEveryScheme, proxy);
}

bool environmentBypasses(const std::string& noProxy, const std::string& host, unsigned short port)
{
    const std::string name = lowered(host);
    for (const std::string& entry : pieces(lowered(noProxy), ", \t"))
        if (bypassEntryCovers(entry, name, port))
            return true;
    return false;
}

bool windowsBypasses(const std::string& override, const std::string& host)
{
    const std::string name = lowered(host);
    bool loopbackThroughProxy = false;
    for (const std::string& entry : pieces(lowered(override), "; \t")) {
        if (entry == "<-loopback>")
            loopbackThroughProxy = true;
        else if (entry == "<local>" ? name.find('.') == std::string::npos : wildcardMatch(entry, name))
            return true;
    }
    return !loopbackThroughProxy && isLoopback(name);
}

ProxyChoice proxyFor(const ProxySettings& settings, const std::string& host, unsigned short port)
{
    ProxyChoice choice;
    if (!settings.environmentProxy.empty()) {
        const std::string from = " (" + settings.environmentName + ")";
        if (!parseProxyUrl(settings.environmentProxy, choice.proxy))
            choice.reason = "no proxy: " + settings.environmentName + " names none this launcher can use";
        else if (environmentBypasses(settings.environmentBypass, host, port))
            choice.reason = "no proxy: NO_PROXY names this server";
        else
            choice = {ProxyOrigin::environment, choice.proxy, "through the proxy " + proxyName(choice.proxy) + from};
        return choice;
    }
    if (!settings.windowsEnabled) {
        choice.reason = "no proxy";
    } else if (!parseWindowsProxyServer(settings.windowsServer, choice.proxy)) {
        choice.reason = "no proxy: the Windows Internet Settings name none for HTTP";
    } else if (windowsBypasses(settings.windowsOverride, host)) {
        choice.reason = "no proxy: the Windows Internet Settings bypass it for this server";
    } else {
        choice = {ProxyOrigin::windowsSettings, choice.proxy,
                  "through the proxy " + proxyName(choice.proxy) + " (the Windows Internet Settings)"};
    }
    return choice;
}

std::string proxyName(const ProxyAddress& proxy)
{
    return proxy.host + ":" + std::to_string(proxy.port);
}
