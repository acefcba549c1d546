#pragma once
// The edition a computer installs. Every written form tests for Server and uses
// the client form for any other value, except the exit report, which names "no
// choice" for values other than Server and Client.

namespace orivanta {

enum class Edition : int { None = 0, Server = 1, Client = 2 };

inline const wchar_t* EditionWindowName(Edition edition) {
    return edition == Edition::Server ? L"服务端版" : L"仅客户端版";
}
inline const char* EditionPackageType(Edition edition) {
    return edition == Edition::Server ? "Server" : "ClientOnly";
}
inline const wchar_t* EditionFileStem(Edition edition) {
    return edition == Edition::Server ? L"server" : L"client";
}
inline const wchar_t* EditionReportText(Edition edition) {
    if (edition == Edition::Server) return L"服务端版";
    if (edition == Edition::Client) return L"仅客户端版";
    return L"尚未选择";
}

}  // namespace orivanta
