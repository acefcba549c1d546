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
UniqueHandle Usable(const std::wstring& folder, ProtectedFolder established) {
    switch (established.refusal) {
        case FolderRefusal::None:
            return std::move(established.handle);
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

std::wstring MachineFolderLinkText(const std::wstring& link) { return L"本机" + FolderLinkText(link); }

std::wstring MachineFolderForeignText(const std::wstring& folder) {
    return L"本机数据文件夹不能安全使用：" + folder +
           L" 不是本程序建立的，且无法移到一旁。请管理员删除或改名该文件夹后重试，或联系欧瑞凡达客服 " +
           SupportHotlineText() + L"。";
}

HeldFolders EstablishMachineFolder(const std::wstring& dataRoot) {
    if (!dataRoot.empty()) return HoldInDataRoot(dataRoot, L"machine");
    // Whoever may change what the vendor folder holds could replace the machine
    // folder between runs (its recorded ID catches that), or during one: both stay
    // held meanwhile.
    const std::wstring vendor = VendorFolder();
    HeldFolders held;
    held.Keep(Usable(vendor, HoldFolderAsItIs(vendor)));
    held.Keep(Usable(MachineFolder(dataRoot), EstablishProtectedFolder(MachineFolder(dataRoot))));
    return held;
}

}  // namespace orivanta
