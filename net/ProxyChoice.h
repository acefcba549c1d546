#pragma once
// Which proxy, if any, one request goes through: the current user's Internet
// settings, with an auto-config script or auto-detection resolved per URL, and
// whether that proxy may be answered with the logged-on account's credentials.

#include <functional>
#include <string>

#include "common/Handles.h"

namespace orivanta {

// The current user's proxy settings as WinHTTP reads them, and whether the
// machine-wide WinHTTP setting (netsh winhttp set proxy) names a proxy.
struct UserProxySettings {
    bool autoDetect = false;
    std::wstring autoConfigUrl;
    std::wstring proxy;   // "host:port", or per scheme "http=host:port;https=host:port"
    std::wstring bypass;  // "*.clinic.local;<local>"
    bool machineProxy = false;
};

// Where the proxy of a choice came from. The account is the elevated one: its
// credentials go only to a proxy that settings name, never to one that anyone
// who answers auto-detection (WPAD) or serves the script could name.
enum class ProxySource { Direct, MachineSetting, UserSetting, Discovered };

// The access type a session for one request is opened with. The default type is
// direct unless the machine-wide WinHTTP setting names a proxy.
struct ProxyChoice {
    DWORD accessType = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    std::wstring proxy;
    std::wstring bypass;
    ProxySource source = ProxySource::Direct;
};

// True when a 407 of the choice's proxy may be answered with the logged-on account's credentials.
bool MayAnswerProxyLogon(const ProxyChoice& choice);

// Resolves the proxy of a URL by auto-detection or the auto-config script; false when that fails.
using ProxyDiscovery = std::function<bool(const std::wstring& url, const UserProxySettings&, ProxyChoice&)>;

// Empty settings when they cannot be read.
UserProxySettings ReadUserProxySettings();
// WinHttpGetProxyForUrl with the settings' auto-detection and script, the
// script fetched without the account's credentials.
bool DiscoverProxy(const std::wstring& url, const UserProxySettings& settings, ProxyChoice& choice);

// Discovery first when the settings ask for it; when it fails, or is not asked
// for, the named proxy with its bypass list; without one, the default (the
// machine-wide proxy, or direct).
ProxyChoice ChooseProxy(const std::wstring& url, const UserProxySettings& settings, const ProxyDiscovery& discover);
// The choice for a URL from the current user's settings.
ProxyChoice CurrentUserProxy(const std::wstring& url);

}  // namespace orivanta
