#include "center/CenterApi.h"

#include "center/JsonFields.h"
#include "common/Utf.h"
#include "state/AppState.h"

namespace orivanta {

namespace {

constexpr wchar_t kPreparePath[] = L"/api/installer-downloads/prepare";
constexpr wchar_t kReusePath[] = L"/api/installer-downloads/reuse";
constexpr wchar_t kStartPath[] = L"/api/installer-downloads/start";

}  // namespace

std::wstring BuildCenterUrl(const std::wstring& baseUrl, const std::wstring& path) {
    std::wstring base = baseUrl;
    const std::size_t baseEnd = base.find_last_not_of(L'/');
    base.erase(baseEnd == std::wstring::npos ? 0 : baseEnd + 1);
    const std::size_t pathStart = path.find_first_not_of(L'/');
    return base + L"/" + (pathStart == std::wstring::npos ? std::wstring() : path.substr(pathStart));
}

CenterResponse PrepareDownload(const std::wstring& baseUrl, const std::string& deviceId,
                               const std::string& packageType, HttpAbort* abort) {
    const std::string body = "{\"deviceId\":\"" + deviceId + "\",\"packageType\":\"" + packageType + "\"}";
    return PostCenterJson(BuildCenterUrl(baseUrl, kPreparePath), body, abort);
}

CenterResponse RecordReuse(const std::wstring& baseUrl, const std::string& deviceId, const std::string& packageType,
                           const std::string& packageId, HttpAbort* abort) {
    const std::string body = "{\"deviceId\":\"" + deviceId + "\",\"packageType\":\"" + packageType +
                             "\",\"packageId\":\"" + JsonEscapeString(Utf8ToUtf16(packageId)) + "\"}";
    return PostCenterJson(BuildCenterUrl(baseUrl, kReusePath), body, abort);
}

CenterResponse StartDownload(const std::wstring& baseUrl, const std::string& deviceId, const std::string& packageType,
                             const std::wstring& sessionId, std::int64_t resumeOffset, HttpAbort* abort) {
    if (resumeOffset != 0) {
        Checkpoint(L"恢复已有下载会话");
        SetStatus(L"正在恢复下载");
    } else {
        Checkpoint(L"向中心创建新下载会话");
        SetStatus(L"正在准备下载");
    }
    PostRefresh();

    const std::string body = "{\"deviceId\":\"" + deviceId + "\",\"packageType\":\"" + packageType +
                             "\",\"sessionId\":\"" + JsonEscapeString(sessionId) +
                             "\",\"resumeOffset\":" + std::to_string(resumeOffset) + "}";
    return PostCenterJson(BuildCenterUrl(baseUrl, kStartPath), body, abort);
}

}  // namespace orivanta
