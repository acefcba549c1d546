#include "identity/MachineFolder.h"

#include <shlobj.h>

#include <stdexcept>

#include "common/Folders.h"
#include "common/PathChecks.h"
#include "common/ProtectedFolder.h"
#include "common/SupportHotline.h"
#include "common/Utf.h"

namespace orivanta {
namespace {

constexpr wchar_t kVendorFolder[] = L"\\Orivanta";
constexpr wchar_t kMachineFolderName[] = L"\\InstallerAssistant";

[[noreturn]] void RefuseLink(const std::wstring& link) {
    throw std::runtime_error(Utf16ToUtf8(MachineFolderLinkText(link)));
}

std::wstring VendorFolder() { return KnownFolderPath(CSIDL_COMMON_APPDATA) + kVendorFolder; }

}  // namespace

std::wstring MachineFolder(const std::wstring& dataRoot) {
    if (!dataRoot.empty()) return dataRoot + L"\\machine";
    return VendorFolder() + kMachineFolderName;
}

std::wstring MachineFolderLinkText(const std::wstring& link) {
    return L"本机数据文件夹不能安全使用：" + link + L" 是链接或挂载点。请删除该链接后重试，或联系欧瑞凡达客服 " +
           SupportHotlineText() + L"。";
}

UniqueHandle EstablishMachineFolder(const std::wstring& dataRoot) {
    const std::wstring folder = MachineFolder(dataRoot);
    if (!dataRoot.empty()) {
        EnsureDirectory(folder);
        return {};
    }
    // The vendor folder may be shared with the clinic's other programs: it is
    // created as any folder and its rights are left alone, but it must not lead elsewhere.
    const std::wstring vendor = VendorFolder();
    EnsureDirectory(vendor);
    if (IsReparsePoint(vendor)) RefuseLink(vendor);
    ProtectedFolder established = EstablishProtectedFolder(folder);
    if (established.refusal == FolderRefusal::ReparsePoint) RefuseLink(established.link);
    if (established.refusal == FolderRefusal::NotAFolder) throw std::runtime_error("create directory failed");
    return std::move(established.handle);
}

}  // namespace orivanta
