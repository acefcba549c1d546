#pragma once
// The edition a computer installs: 0 none, 1 server (clinic host), 2 client only.
// Every written form tests for 1 and uses the client form for any other value,
// except the exit report, which names "no choice" for values other than 1 and 2.

namespace orivanta {

constexpr int kEditionNone = 0;
constexpr int kEditionServer = 1;
constexpr int kEditionClient = 2;

inline const wchar_t* EditionWindowName(int edition) {
    return edition == kEditionServer ? L"服务端版" : L"仅客户端版";
}
inline const char* EditionPackageType(int edition) {
    return edition == kEditionServer ? "Server" : "ClientOnly";
}
inline const wchar_t* EditionFileStem(int edition) {
    return edition == kEditionServer ? L"server" : L"client";
}
inline const wchar_t* EditionReportText(int edition) {
    if (edition == kEditionServer) return L"服务端版";
    if (edition == kEditionClient) return L"仅客户端版";
    return L"尚未选择";
}

}  // namespace orivanta
