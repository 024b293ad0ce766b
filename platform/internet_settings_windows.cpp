#include "platform/internet_settings.h"

#include <windows.h>

namespace platform {

namespace {

std::string utf8(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], size, nullptr, nullptr);
    return text;
}

// A string value; empty when it is missing, of another type or unreasonably long.
std::string stringValue(HKEY key, const wchar_t* name)
{
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || bytes > 64 * 1024)
        return {};
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &bytes) != ERROR_SUCCESS)
        return {};
    value.resize(bytes / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();  // the stored terminator, when there is one
    return utf8(value);
}

bool dwordValue(HKEY key, const wchar_t* name)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD bytes = sizeof value;
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) == ERROR_SUCCESS &&
           type == REG_DWORD && value != 0;
}

}  // namespace

InternetSettings internetSettings()
{
    InternetSettings settings;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return settings;
    settings.proxyEnabled = dwordValue(key, L"ProxyEnable");
    settings.proxyServer = stringValue(key, L"ProxyServer");
    settings.proxyOverride = stringValue(key, L"ProxyOverride");
    RegCloseKey(key);
    return settings;
}

}  // namespace platform
