#include "DevCenterClient.h"

#include <cctype>
#include <stdexcept>
#include <vector>

#include "center/JsonFields.h"
#include "common/Handles.h"
#include "common/Utf.h"

namespace orivanta::test {

namespace {

std::wstring EnvironmentText(const wchar_t* name) {
    const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return {};
    std::vector<wchar_t> buffer(needed);
    const DWORD length = ::GetEnvironmentVariableW(name, buffer.data(), needed);
    return std::wstring(buffer.data(), length < needed ? length : 0);
}

std::wstring RequireEnvironment(const wchar_t* name) {
    std::wstring value = EnvironmentText(name);
    if (value.empty()) {
        throw std::runtime_error(Utf16ToUtf8(name) +
                                 " is not set: put a file named needs-devcenter in the test folder");
    }
    return value;
}

std::string QueryPart(const std::string& name, const std::string& value) {
    std::string encoded;
    const char* hex = "0123456789ABCDEF";
    for (const unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded.push_back(static_cast<char>(c));
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 15];
        }
    }
    return name + "=" + encoded;
}

}  // namespace

DevCenterClient::DevCenterClient()
    : DevCenterClient(RequireEnvironment(L"ORIVANTA_TEST_CENTER_URL"),
                      RequireEnvironment(L"ORIVANTA_TEST_CENTER_CONTROL")) {}

DevCenterClient::DevCenterClient(std::wstring centerUrl, std::wstring controlUrl)
    : centerUrl_(std::move(centerUrl)), controlUrl_(std::move(controlUrl)) {
    while (!controlUrl_.empty() && controlUrl_.back() == L'/') controlUrl_.pop_back();
}

void DevCenterClient::Reset() { Post("/reset", "{}"); }

std::string DevCenterClient::SetFaults(const std::string& faultsJson) { return Post("/faults", faultsJson); }

void DevCenterClient::QueueAnswer(const std::string& operation, unsigned long status, const std::string& bodyJson) {
    Queue("{\"operation\":\"" + operation + "\",\"status\":" + std::to_string(status) + ",\"body\":" + bodyJson + "}");
}

void DevCenterClient::Queue(const std::string& queueJson) { Post("/queue", queueJson); }

std::string DevCenterClient::Log(const std::string& query) { return Get(query.empty() ? "/log" : "/log?" + query); }

std::string DevCenterClient::Counters(const std::string& deviceId) {
    return Get(deviceId.empty() ? "/counters" : "/counters?" + QueryPart("deviceId", deviceId));
}

std::int64_t DevCenterClient::DownloadsCounted(const std::string& deviceId) {
    return JsonIntegerField(Counters(deviceId), "downloads");
}

std::string DevCenterClient::Packages() { return Get("/packages"); }

std::string DevCenterClient::Package(const std::string& packageType) {
    return Get("/packages?" + QueryPart("packageType", packageType));
}

std::wstring DevCenterClient::PackageFilePath(const std::string& packageType) {
    std::wstring path = Utf8ToUtf16(JsonStringField(Package(packageType), "path"));
    if (path.empty() || path[0] != L'/') return path;
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return L"Z:" + path;
}

std::string DevCenterClient::SetPackage(const std::string& packageJson) { return Post("/packages", packageJson); }

std::string DevCenterClient::SeedSession(const std::string& sessionJson) { return Post("/sessions", sessionJson); }

std::string DevCenterClient::Get(const std::string& route) { return Call(L"GET", route, {}); }

std::string DevCenterClient::Post(const std::string& route, const std::string& bodyJson) {
    return Call(L"POST", route, bodyJson);
}

std::string DevCenterClient::Call(const wchar_t* verb, const std::string& route, const std::string& bodyJson) {
    const std::wstring url = controlUrl_ + Utf8ToUtf16(route);
    wchar_t host[256] = {};
    wchar_t path[4096] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 4096;
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) throw std::runtime_error("bad control URL");

    UniqueInternet session(::WinHttpOpen(L"OrivantaTests/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    UniqueInternet connection(session ? ::WinHttpConnect(session.get(), host, parts.nPort, 0) : nullptr);
    UniqueInternet request(connection ? ::WinHttpOpenRequest(connection.get(), verb, path, nullptr, WINHTTP_NO_REFERER,
                                                             WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                      : nullptr);
    if (!request) throw std::runtime_error("control request could not be created");
    const DWORD length = static_cast<DWORD>(bodyJson.size());
    if (!::WinHttpSendRequest(request.get(), L"Content-Type: application/json\r\n", static_cast<DWORD>(-1),
                              const_cast<char*>(bodyJson.data()), length, length, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr)) {
        throw std::runtime_error("development center control API not reachable");
    }
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    ::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    std::string answer;
    std::vector<char> chunk(65536);
    DWORD read = 0;
    while (::WinHttpReadData(request.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read) && read > 0) {
        answer.append(chunk.data(), read);
    }
    if (status != 200) {
        throw std::runtime_error("control API answered " + std::to_string(status) + ": " + answer);
    }
    return answer;
}

}  // namespace orivanta::test
