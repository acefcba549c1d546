#include "AppStateReset.h"

#include "workflow/AppState.h"

namespace orivanta::test {

void ResetAppState() {
    AppState& app = App();
    {
        std::lock_guard<std::mutex> lock(app.stateMutex);
        app.statusText = L"准备就绪";
        app.detailText = L"请选择适合您的版本";
        app.saveLocationText.clear();
        app.lanHostText.clear();
        app.edition = 0;
        app.lanState = kLanChecking;
        app.sessionId.clear();
        app.packageId.clear();
    }
    app.busy = false;
    app.cancelRequested = false;
    app.windowClosing = false;
    app.userChoseEdition = false;
    app.integrityPassed = false;
    app.installerLaunched = false;
    app.windowsNetworkReady = false;
    app.centerResponded = false;
    app.progressPercent = 0;
    app.bytesDone = 0;
    app.bytesTotal = 0;
    app.speedBytesPerSecond = 0.0;
    app.exitCode = 0;
    app.networkAbort.Reset();
    app.centerBaseUrl = kDefaultCenterBaseUrl;
    app.diagnosticDataRoot.clear();
    app.diagnosticMode = false;
    app.autoStart = false;
    app.mainWindow = nullptr;
    app.hoverRegion = 0;
    app.focusIndex = 0;
}

}  // namespace orivanta::test
