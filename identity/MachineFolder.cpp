#include "identity/MachineFolder.h"

#include <shlobj.h>

#include <stdexcept>

#include "common/Folders.h"
#include "common/ProtectedFolder.h"
#include "common/SupportHotline.h"
#include "common/Utf.h"

namespace orivanta {
namespace {

constexpr wchar_t kVendorFolder[] = L"\\Orivanta";
constexpr wchar_t kMachineFolderName[] = L"\\InstallerAssistant";

// A folder that cannot be used ends the run with the reason.
ProtectedFolder Establish(const std::wstring& folder, const FolderRules& rules) {
    ProtectedFolder established = EstablishProtectedFolder(folder, rules);
    switch (established.refusal) {
        case FolderRefusal::None:
            return established;
        case FolderRefusal::ReparsePoint:
            throw std::runtime_error(Utf16ToUtf8(MachineFolderLinkText(folder)));
        case FolderRefusal::NotSetAside:
            throw std::runtime_error(Utf16ToUtf8(MachineFolderForeignText(folder)));
        case FolderRefusal::NotAFolder:
            break;
    }
    throw std::runtime_error("create directory failed");
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

std::wstring MachineFolderForeignText(const std::wstring& folder) {
    return L"本机数据文件夹不能安全使用：" + folder +
           L" 不是本程序建立的，且无法移到一旁。请管理员删除或改名该文件夹后重试，或联系欧瑞凡达客服 " +
           SupportHotlineText() + L"。";
}

UniqueHandle EstablishMachineFolder(const std::wstring& dataRoot) {
    const std::wstring folder = MachineFolder(dataRoot);
    if (!dataRoot.empty()) {
        EnsureDirectory(folder);
        return {};
    }
    // Whoever may replace what the vendor folder holds could replace the machine
    // folder between runs; it is held so that it stays in place meanwhile.
    const ProtectedFolder vendor = Establish(VendorFolder(), kParentFolder);
    return std::move(Establish(folder, kProtectedFolder).handle);
}

}  // namespace orivanta
