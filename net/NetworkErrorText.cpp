#include "net/NetworkErrorText.h"

#include <windows.h>
#include <winhttp.h>

#include "common/SystemErrorText.h"

namespace orivanta {
namespace {

constexpr unsigned long kFirstInternetError = 12000;
constexpr unsigned long kLastInternetError = 12999;

struct NetworkError {
    unsigned long code;
    const wchar_t* message;
};

constexpr NetworkError kNetworkErrors[] = {
    {ERROR_WINHTTP_TIMEOUT, L"网络请求超时"},
    {ERROR_WINHTTP_NAME_NOT_RESOLVED, L"无法解析服务器名称"},
    {ERROR_WINHTTP_CANNOT_CONNECT, L"无法连接到服务器"},
    {ERROR_WINHTTP_CONNECTION_ERROR, L"网络连接已中断或被重置"},
    {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, L"服务器返回了无效的应答"},
    {ERROR_WINHTTP_OPERATION_CANCELLED, L"网络请求已取消"},
    {ERROR_WINHTTP_SECURE_FAILURE, L"安全连接（TLS）建立失败"},
    {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, L"安全连接（TLS）出错"},
    {ERROR_WINHTTP_SECURE_FAILURE_PROXY, L"与代理服务器的安全连接建立失败"},
    {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, L"服务器证书已过期或尚未生效"},
    {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, L"服务器证书与访问的地址不符"},
    {ERROR_WINHTTP_SECURE_INVALID_CA, L"服务器证书的颁发机构不受信任"},
    {ERROR_WINHTTP_SECURE_CERT_REV_FAILED, L"无法检查服务器证书是否已被吊销"},
    {ERROR_WINHTTP_SECURE_CERT_REVOKED, L"服务器证书已被吊销"},
    {ERROR_WINHTTP_SECURE_INVALID_CERT, L"服务器证书无效"},
    {ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, L"服务器证书不能用于此用途"},
    {ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED, L"服务器要求提供客户端证书"},
    {ERROR_WINHTTP_AUTODETECTION_FAILED, L"未能自动检测到代理设置"},
    {ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT, L"无法下载代理自动配置脚本"},
    {ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT, L"代理自动配置脚本有误"},
    {ERROR_WINHTTP_UNHANDLED_SCRIPT_TYPE, L"代理自动配置脚本的类型无法识别"},
    {ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR, L"代理自动配置脚本执行出错"},
    {ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR, L"代理自动配置服务出错"},
    {ERROR_WINHTTP_REDIRECT_FAILED, L"服务器重定向失败"},
    // What Wine's WinHTTP reports for a connection that breaks off.
    {WSAECONNABORTED, L"网络连接被本机中止"},
    {WSAECONNRESET, L"网络连接被服务器重置"},
    {WSAETIMEDOUT, L"网络连接超时，服务器没有响应"},
    {WSAECONNREFUSED, L"服务器拒绝了连接"},
    {WSAEHOSTUNREACH, L"无法访问服务器所在的网络"},
};

}  // namespace

std::wstring NetworkErrorMessage(unsigned long code) {
    for (const NetworkError& error : kNetworkErrors) {
        if (error.code == code) return error.message;
    }
    return {};
}

std::wstring NetworkErrorText(unsigned long code) {
    const std::wstring sentence = NetworkErrorMessage(code);
    if (!sentence.empty()) return ComposeSystemErrorText(sentence, code);
    // WinHTTP's codes have their texts in winhttp.dll, not in the system's table.
    // Only a module already loaded is asked: nothing is loaded for a message.
    const bool internet = code >= kFirstInternetError && code <= kLastInternetError;
    return SystemErrorText(code, internet ? ::GetModuleHandleW(L"winhttp.dll") : nullptr);
}

}  // namespace orivanta
