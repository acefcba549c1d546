#include "workflow/DownloadWorker.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "center/CenterApi.h"
#include "center/CenterTransport.h"
#include "center/JsonFields.h"
#include "center/PackageMetadata.h"
#include "common/ExceptionChain.h"
#include "common/FileAsItIs.h"
#include "common/Folders.h"
#include "common/GuidText.h"
#include "common/Handles.h"
#include "common/SupportHotline.h"
#include "common/Utf.h"
#include "download/FolderAndLaunch.h"
#include "download/LaunchFolder.h"
#include "download/RangedDownload.h"
#include "identity/DeviceIdentity.h"
#include "storage/HeldPackage.h"
#include "storage/PackageRecords.h"
#include "storage/ReuseLookup.h"
#include "storage/StorageLocations.h"
#include "state/AppState.h"
#include "state/Edition.h"
#include "workflow/SessionFiles.h"

namespace orivanta {
namespace {

constexpr std::int64_t kDiskHeadroomBytes = 104857600;
constexpr char kPackageNoLongerCurrent[] = "INSTALLER_PACKAGE_NO_LONGER_CURRENT";
constexpr char kDownloadOffsetInvalid[] = "DOWNLOAD_OFFSET_INVALID";
constexpr wchar_t kNonStandardFailure[] = L"非标准 C++ 异常";
constexpr wchar_t kCompletedManualAction[] = L"请在已打开的欧瑞凡达安装程序中确认后继续安装。";
constexpr wchar_t kPausedStatus[] = L"下载已暂停";
constexpr wchar_t kPausedDetail[] = L"已保存进度，继续下载不会增加次数";
constexpr char kVerificationIncomplete[] = "安装包校验未能完成，已保留下载进度，请稍后重试";

enum class RequestEnd { Downloaded, Reused, Paused, Failed };

[[noreturn]] void Fail(const std::string& message) { throw std::runtime_error(message); }
[[noreturn]] void Fail(const std::wstring& message) { throw std::runtime_error(Utf16ToUtf8(message)); }

bool Succeeded(const CenterResponse& response) { return response.status >= 200 && response.status <= 299; }

void Show(const std::wstring& status) {
    SetStatus(status);
    PostRefresh();
}

void Show(const std::wstring& status, const std::wstring& detail) {
    SetStatusAndDetail(status, detail);
    PostRefresh();
}

// One request of one edition, from the device identity to its end. The
// start-up configuration, the stop flag and the network abort come from the
// shared state; the operations below are handed them.
class DownloadRequest {
public:
    DownloadRequest(const FreeSpaceProbe& freeSpace, const InstallerLauncher& launch,
                    const PublisherCheck& checkPublisher)
        : freeSpace_(freeSpace),
          launch_(launch),
          checkPublisher_(checkPublisher),
          dataRoot_(App().diagnosticDataRoot),
          centerUrl_(App().centerBaseUrl),
          stop_(App().cancelRequested),
          abort_(App().networkAbort) {}

    RequestEnd Run() {
        Reset();
        Checkpoint(L"读取本机设备标识");
        PrepareFolders();
        deviceId_ = GetStableDeviceId(dataRoot_, SystemWindowsFolder());
        {
            std::lock_guard<std::mutex> lock(App().stateMutex);
            App().saveLocationText = saveFolder_.path;
        }
        Restore();
        if (PrepareOrReuse()) return Reuse();
        DecideSession();
        return Download();
    }

private:
    void Reset() {
        AppState& app = App();
        app.centerResponded = false;
        app.integrityPassed = false;
        app.installerLaunched = false;
        std::lock_guard<std::mutex> lock(app.stateMutex);
        app.sessionId.clear();
        app.packageId.clear();
        app.signatureCheck.clear();
        edition_ = app.edition;
    }

    // Each folder the request uses is held from here to its end: none can be
    // renamed away or replaced by a link meanwhile.
    void PrepareFolders() {
        const std::wstring root = InstallerDownloaderRoot(dataRoot_);
        saveFolder_ = ChooseSaveFolder(dataRoot_);
        folders_ = HoldInDownloaderRoot(dataRoot_, L"cache");
        if (!dataRoot_.empty()) folders_.Hold(LaunchFolderParent(dataRoot_));
        const std::wstring stem = EditionFileStem(edition_);
        statePath_ = root + L"\\cache\\" + stem + L".state";
        partPath_ = saveFolder_.path + L"\\.cache\\" + stem + L".part";
        folders_.Keep(HoldRecordFolders(dataRoot_));
    }

    void Restore() {
        const RestoredSession restored = RestoreSession(statePath_, partPath_);
        sessionText_ = restored.sessionText;
        offset_ = restored.resumeOffset;
    }

    void SetPackageId(const std::string& packageId) {
        std::lock_guard<std::mutex> lock(App().stateMutex);
        App().packageId = packageId;
    }

    // True when the center confirmed the reuse of a verified local copy.
    bool PrepareOrReuse() {
        const std::string packageType = EditionPackageType(edition_);
        // At most two attempts: a reuse refused as no longer current in the first one prepares again.
        for (int attempt = 0;; ++attempt) {
            Checkpoint(L"向中心检查当前最新版安装包");
            Show(L"正在检查最新安装包");
            const CenterResponse prepared = PrepareDownload(centerUrl_, deviceId_, packageType, &abort_);
            if (!Succeeded(prepared)) Fail(DescribeCenterFailure(prepared, "无法取得最新安装包信息"));
            metadata_ = ParsePackageMetadata(prepared);
            SetPackageId(metadata_.packageId);
            isAllowed_ = JsonBoolField(prepared.body, "isAllowed");
            rejectionReason_ = JsonStringField(prepared.body, "rejectionReason");

            Checkpoint(L"根据包 ID、文件大小和 SHA-256 检查本机历史文件");
            Show(L"正在检查已有安装包", Utf8ToUtf16(metadata_.fileName));
            localMatch_.reset();  // the first attempt's copy is let go before it is looked for again
            localMatch_ = FindReusablePackage(metadata_, saveFolder_.path, edition_, dataRoot_, stop_);
            if (!localMatch_) return false;
            CheckPublisher(*localMatch_);

            Checkpoint(L"通知中心记录本地安装包复用");
            Show(L"正在确认当前版本", L"已找到相同安装包");
            const CenterResponse reused =
                RecordReuse(centerUrl_, deviceId_, packageType, metadata_.packageId, &abort_);
            const std::string errorCode = JsonStringField(reused.body, "errorCode");
            if (attempt == 0 && reused.status == 409 && errorCode == kPackageNoLongerCurrent) continue;
            if (Succeeded(reused) && JsonBoolField(reused.body, "recorded")) return true;
            Fail(DescribeCenterFailure(reused, "中心未能确认本地安装包仍是最新版"));
        }
    }

    // The local match is held from its hashing in the lookup until its installer's process exists.
    RequestEnd Reuse() {
        AppState& app = App();
        app.bytesTotal = metadata_.sizeBytes;
        app.bytesDone = metadata_.sizeBytes;
        app.progressPercent = 100;
        app.integrityPassed = true;
        const std::wstring path = localMatch_->Path();
        SaveDownloadRecord(metadata_, path, kSourceReused, edition_, dataRoot_);
        // A half-finished download of the same edition is abandoned.
        DeleteFileAsItIs(statePath_);
        DeleteFileAsItIs(partPath_);
        const std::wstring folder = FolderOfPath(path);
        Checkpoint(L"复用已通过 SHA-256 校验的本机安装包");
        Show(L"已找到相同安装包", L"无需重复下载，正在打开文件夹并启动");
        if (folder.empty() || !OpenFolderSelecting(path, folder)) {
            Fail("existing package folder could not be opened");
        }
        if (!launch_(std::move(*localMatch_), metadata_.sha256)) Fail("existing installer launch failed");
        FinishRun(L"Completed", 0,
                  L"本机已存在与中心最新元数据一致的安装包，大小与 SHA-256 均已验证并完成复用登记；"
                  L"本次未创建下载会话、未增加下载次数，文件夹和安装包已打开。",
                  kCompletedManualAction, L"");
        return RequestEnd::Reused;
    }

    // An existing valid identifier is never replaced; the center decides at start
    // whether a saved session may resume.
    void DecideSession() {
        if (sessionText_.empty()) {
            if (!isAllowed_) {
                if (!rejectionReason_.empty()) Fail(rejectionReason_);
                Fail(L"这台电脑已达到下载次数上限，请联系欧瑞凡达客服 " + SupportHotlineText() + L"。");
            }
            sessionText_ = NewGuidText();
            if (!SaveSessionText(statePath_, sessionText_)) Fail("下载会话无法保存");
        }
        std::lock_guard<std::mutex> lock(App().stateMutex);
        App().sessionId = sessionText_;
    }

    void StartSession() {
        const std::string packageType = EditionPackageType(edition_);
        CenterResponse started = StartDownload(centerUrl_, deviceId_, packageType, sessionText_, offset_, &abort_);
        if (!Succeeded(started) && offset_ > 0 &&
            JsonStringField(started.body, "errorCode") == kDownloadOffsetInvalid) {
            DeleteFileAsItIs(partPath_);
            offset_ = 0;
            started = StartDownload(centerUrl_, deviceId_, packageType, sessionText_, offset_, &abort_);
        }
        if (!Succeeded(started)) Fail(DescribeCenterFailure(started, "中心未批准本次下载"));
        metadata_ = ParsePackageMetadata(started);
        SetPackageId(metadata_.packageId);
        downloadUrl_ = JsonStringField(started.body, "downloadUrl");
        if (downloadUrl_.empty()) Fail("本机没有可复用文件，但中心未返回下载地址");
    }

    void CheckDiskSpace() {
        std::uint64_t freeBytes = 0;
        const std::int64_t needed = std::max<std::int64_t>(0, metadata_.sizeBytes - offset_) + kDiskHeadroomBytes;
        if (!freeSpace_(saveFolder_.path, freeBytes) || freeBytes < static_cast<std::uint64_t>(needed)) {
            Fail("insufficient disk space for installer package");
        }
    }

    RequestEnd Download() {
        StartSession();
        if (offset_ > metadata_.sizeBytes) {
            DeleteFileAsItIs(partPath_);
            offset_ = 0;
        }
        CheckDiskSpace();

        AppState& app = App();
        Show(L"正在安全下载", Utf8ToUtf16(metadata_.fileName));
        app.bytesTotal = metadata_.sizeBytes;
        app.bytesDone = offset_;
        // A part file that already holds the whole package (a run that failed or was
        // paused during verification) is verified again, not fetched again: a range
        // starting at the end of the object could only be refused.
        if (offset_ == metadata_.sizeBytes) {
            app.progressPercent = 100;
        } else {
            Checkpoint(L"从阿里云 OSS 下载安装包");
            PostRefresh();
            std::wstring errorText;
            if (!RangedDownload(Utf8ToUtf16(downloadUrl_), partPath_, offset_, metadata_.sizeBytes, stop_,
                                errorText, &abort_)) {
                if (errorText == kDownloadPausedText) throw StopRequested();
                Fail(errorText);
            }
        }
        Verify();
        return Publish();
    }

    // From here until the installer's process exists, the part file is held: what is
    // hashed is what is published and what is launched.
    void Verify() {
        Checkpoint(L"校验安装包 SHA-256");
        Show(L"正在校验文件完整性");
        package_ = HeldPackage::Open(partPath_, HeldPackage::Access::ReadAndRename);
        std::string digest;
        try {
            digest = package_->Sha256Hex(stop_);
        } catch (const StopRequested&) {
            throw;
        } catch (const std::exception&) {
            // A failed read says nothing about the bytes: the part file stays for the next attempt.
            std::throw_with_nested(std::runtime_error(kVerificationIncomplete));
        }
        if (digest != metadata_.sha256) {
            // A complete file that does not verify can never be resumed into a good one;
            // the session stays, so the retry belongs to the same download session.
            package_->Delete();
            package_.reset();
            Fail("SHA-256 integrity verification failed");
        }
        CheckPublisher(*package_);
        App().integrityPassed = true;
    }

    // On the handle that was hashed: what is checked is what starts. A failure
    // starts, publishes and records nothing.
    void CheckPublisher(const HeldPackage& package) {
        const SignatureCheck check = checkPublisher_(package);
        {
            std::lock_guard<std::mutex> lock(App().stateMutex);
            App().signatureCheck = SignatureReportText(check);
        }
        if (!check.Passed()) Fail(SignatureFailureText(check));
    }

    RequestEnd Publish() {
        const std::wstring finalPath = saveFolder_.path + L"\\" + SafePackageFileName(Utf8ToUtf16(metadata_.fileName));
        // Renamed through the held handle, replacing an earlier copy: the file is never let go.
        if (!package_->MoveTo(finalPath)) Fail("cannot publish verified file");
        DeleteFileAsItIs(statePath_);
        SaveDownloadRecord(metadata_, finalPath, kSourceDownloaded, edition_, dataRoot_);

        Checkpoint(L"打开已下载安装包所在文件夹");
        Show(L"下载完成", L"正在打开保存文件夹并启动安装程序");
        if (!OpenFolderSelecting(finalPath, saveFolder_.path)) Fail("download folder could not be opened");
        Checkpoint(L"启动已校验的安装程序");
        if (!launch_(std::move(*package_), metadata_.sha256)) Fail("installer launch failed");
        FinishRun(L"Completed", 0, L"安装包已完整下载、通过 SHA-256 校验，所在文件夹已打开，安装包也已成功启动。",
                  kCompletedManualAction, L"");
        return RequestEnd::Downloaded;
    }

    const FreeSpaceProbe& freeSpace_;
    const InstallerLauncher& launch_;
    const PublisherCheck& checkPublisher_;
    const std::wstring dataRoot_;
    const std::wstring centerUrl_;
    const StopFlag& stop_;
    // Closing the window breaks the request's network calls off through it.
    HttpAbort& abort_;
    // Both held for the whole request.
    HeldFolders folders_;
    SaveFolder saveFolder_;
    Edition edition_ = Edition::None;
    std::wstring statePath_;
    std::wstring partPath_;
    std::string deviceId_;
    std::wstring sessionText_;
    std::int64_t offset_ = 0;
    PackageMetadata metadata_;
    bool isAllowed_ = false;
    std::string rejectionReason_;
    std::optional<HeldPackage> localMatch_;
    std::optional<HeldPackage> package_;
    std::string downloadUrl_;
};

// The failure end. Reporting the failure may fail in turn; the done message is posted regardless.
void EndWithFailure(const std::wstring& message, const std::wstring& chain) {
    AppState& app = App();
    try {
        SetStatusAndDetail(L"下载未完成", message);
        Checkpoint(L"下载或启动失败，等待用户重试");
        if (app.autoStart) {
            app.exitCode = kAutomaticRunFailedExitCode;
            FinishRun(L"UnhandledException", kAutomaticRunFailedExitCode, L"自动化下载验收未完成。",
                      L"请检查中心接口、下载节点、磁盘与 SHA-256 校验结果后重试。", chain);
        }
    } catch (...) {
        if (app.autoStart) app.exitCode = kAutomaticRunFailedExitCode;
    }
    PostWorkerDone(WorkerOutcome::Failed);
}

}  // namespace

bool QueryFreeBytes(const std::wstring& folder, std::uint64_t& freeBytes) {
    return QueryAvailableBytes(folder.c_str(), freeBytes);
}

void RunDownloadWorker() { RunDownloadWorker(QueryFreeBytes); }

void RunDownloadWorker(const FreeSpaceProbe& freeSpace) {
    RunDownloadWorker(freeSpace, [](HeldPackage package, const std::string& expectedSha256) {
        const std::wstring& dataRoot = App().diagnosticDataRoot;
        return LaunchInstaller(std::move(package), expectedSha256, LaunchFolderParent(dataRoot), {},
                               LaunchFolderRecords(dataRoot));
    });
}

void RunDownloadWorker(const FreeSpaceProbe& freeSpace, const InstallerLauncher& launch) {
    RunDownloadWorker(freeSpace, launch, [](const HeldPackage& package) { return package.CheckPublisher(); });
}

void RunDownloadWorker(const FreeSpaceProbe& freeSpace, const InstallerLauncher& launch,
                       const PublisherCheck& checkPublisher) {
    RequestEnd end = RequestEnd::Failed;
    std::wstring message = kNonStandardFailure;
    std::wstring chain = kNonStandardFailure;
    try {
        end = DownloadRequest(freeSpace, launch, checkPublisher).Run();
    } catch (const StopRequested&) {
        // A pause during the lookup, the transfer or the hashing: state and part files stay.
        end = RequestEnd::Paused;
        SetStatusAndDetail(kPausedStatus, kPausedDetail);
    } catch (const std::exception& failure) {
        try {
            message = Utf8ToUtf16(failure.what());
            chain = ExceptionChain(failure);
        } catch (...) {
        }
    } catch (...) {
    }
    switch (end) {
        case RequestEnd::Downloaded:
        case RequestEnd::Reused:
            PostWorkerDone(WorkerOutcome::Completed);
            break;
        case RequestEnd::Paused:
            PostWorkerDone(WorkerOutcome::Paused);
            break;
        case RequestEnd::Failed:
            // A request the closing window broke off is cancelled, not failed: the close reports the run.
            if (App().networkAbort.aborted()) {
                PostWorkerDone(WorkerOutcome::Paused);
            } else {
                EndWithFailure(message, chain);
            }
            break;
    }
}

}  // namespace orivanta
