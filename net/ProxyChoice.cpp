#include "net/ProxyChoice.h"

#include "net/HttpExchange.h"

namespace orivanta {
namespace {

// WinHTTP hands its texts over in GlobalAlloc memory.
std::wstring TakeGlobalText(wchar_t* text) {
    const UniqueGlobalMemory owner(text);
    return text != nullptr ? std::wstring(text) : std::wstring();
}

// What WINHTTP_ACCESS_TYPE_DEFAULT_PROXY will use; only administrators can set it.
bool MachineProxyNamed() {
    WINHTTP_PROXY_INFO info = {};
    if (!::WinHttpGetDefaultProxyConfiguration(&info)) return false;
    const UniqueGlobalMemory bypass(info.lpszProxyBypass);
    const std::wstring proxy = TakeGlobalText(info.lpszProxy);
    return info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !proxy.empty();
}

}  // namespace

UserProxySettings ReadUserProxySettings() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    UserProxySettings settings;
    settings.machineProxy = MachineProxyNamed();
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) return settings;
    settings.autoDetect = config.fAutoDetect != FALSE;
    settings.autoConfigUrl = TakeGlobalText(config.lpszAutoConfigUrl);
    settings.proxy = TakeGlobalText(config.lpszProxy);
    settings.bypass = TakeGlobalText(config.lpszProxyBypass);
    return settings;
}

bool DiscoverProxy(const std::wstring& url, const UserProxySettings& settings, ProxyChoice& choice) {
    UniqueInternet session(
        ::WinHttpOpen(kHttpUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return false;
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (settings.autoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!settings.autoConfigUrl.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = settings.autoConfigUrl.c_str();
    }
    // Whoever answers auto-detection chooses the script's server: it gets no credentials.
    options.fAutoLogonIfChallenged = FALSE;
    WINHTTP_PROXY_INFO info = {};
    if (!::WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) return false;
    choice.proxy = TakeGlobalText(info.lpszProxy);
    choice.bypass = TakeGlobalText(info.lpszProxyBypass);
    choice.accessType = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !choice.proxy.empty()
                            ? WINHTTP_ACCESS_TYPE_NAMED_PROXY
                            : WINHTTP_ACCESS_TYPE_NO_PROXY;
    return true;
}

bool MayAnswerProxyLogon(const ProxyChoice& choice) {
    return choice.source == ProxySource::MachineSetting || choice.source == ProxySource::UserSetting;
}

ProxyChoice ChooseProxy(const std::wstring& url, const UserProxySettings& settings, const ProxyDiscovery& discover) {
    ProxyChoice choice;
    if ((settings.autoDetect || !settings.autoConfigUrl.empty()) && discover(url, settings, choice)) {
        choice.source = ProxySource::Discovered;
        return choice;
    }
    choice = ProxyChoice();
    if (!settings.proxy.empty()) {
        choice.accessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        choice.proxy = settings.proxy;
        choice.bypass = settings.bypass;
        choice.source = ProxySource::UserSetting;
    } else if (settings.machineProxy) {
        choice.source = ProxySource::MachineSetting;
    }
    return choice;
}

ProxyChoice CurrentUserProxy(const std::wstring& url) {
    return ChooseProxy(url, ReadUserProxySettings(), DiscoverProxy);
}

}  // namespace orivanta
