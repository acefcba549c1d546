#include "app/Options.h"

#include <windows.h>
#include <shellapi.h>

#include <stdexcept>

#include "common/Folders.h"
#include "common/Handles.h"
#include "state/AppState.h"
#include "state/Edition.h"

namespace orivanta {

std::wstring ReadCommandLineOption(const std::wstring& commandLine, const std::wstring& name) {
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(commandLine.c_str(), &count);
    if (arguments == nullptr) return {};
    UniqueLocalMemory owner(reinterpret_cast<HLOCAL>(arguments));
    const std::wstring prefix = name + L"=";
    std::wstring value;
    for (int i = 1; i < count; ++i) {
        const std::wstring argument(arguments[i]);
        if (argument.size() >= prefix.size() && argument.compare(0, prefix.size(), prefix) == 0) {
            value = argument.substr(prefix.size());
        }
    }
    return value;
}

std::wstring ReadCommandLineOption(const std::wstring& name) {
    return ReadCommandLineOption(::GetCommandLineW(), name);
}

DiagnosticOptions ReadDiagnosticOptions(const std::wstring& commandLine) {
    AppState& app = App();
    DiagnosticOptions options;

    options.test = ReadCommandLineOption(commandLine, L"--diagnostic-test");
    app.diagnosticMode = !options.test.empty();

    const std::wstring autostart = ReadCommandLineOption(commandLine, L"--diagnostic-autostart");
    app.autoStart = !autostart.empty();
    if (app.autoStart) {
        app.diagnosticMode = true;
        app.edition = autostart == L"client" ? Edition::Client : Edition::Server;
    }

    options.lan = ReadCommandLineOption(commandLine, L"--diagnostic-lan");
    if (!options.lan.empty()) app.diagnosticMode = true;

    const std::wstring dataRoot = ReadCommandLineOption(commandLine, L"--diagnostic-data-root");
    if (!dataRoot.empty()) {
        app.diagnosticMode = true;
        app.diagnosticDataRoot = dataRoot;
        EnsureDirectory(dataRoot);
    }
    return options;
}

DiagnosticOptions ReadDiagnosticOptions() { return ReadDiagnosticOptions(::GetCommandLineW()); }

void ApplyServerUrlOption(const std::wstring& commandLine) {
    std::wstring url = ReadCommandLineOption(commandLine, L"--server-url");
    if (url.empty()) return;
    const bool http = url.size() >= 7 && url.compare(0, 7, L"http://") == 0;
    const bool https = url.size() >= 8 && url.compare(0, 8, L"https://") == 0;
    if (!http && !https) throw std::runtime_error("server URL must use HTTP or HTTPS");
    while (!url.empty() && url.back() == L'/') url.pop_back();
    App().centerBaseUrl = url;
}

void ApplyServerUrlOption() { ApplyServerUrlOption(::GetCommandLineW()); }

void ApplySimulatedLanResult(const std::wstring& value) {
    if (value.empty()) return;
    AppState& app = App();
    std::lock_guard<std::mutex> lock(app.stateMutex);
    if (value == L"none") {
        app.lanState = LanState::NoHost;
        app.lanHostText.clear();
        return;
    }
    app.lanState = LanState::HostFound;
    app.lanHostText = value;
    if (!app.autoStart) {
        app.edition = Edition::Client;
        app.statusText = L"已根据局域网检测推荐仅客户端版";
        app.detailText = L"仅客户端版 · 已发现主机 " + value + L":9009";
    }
}

}  // namespace orivanta
