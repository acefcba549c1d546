#include "common/HeldFolders.h"

#include <algorithm>
#include <stdexcept>

#include "common/Folders.h"
#include "common/ProtectedFolder.h"
#include "common/SupportHotline.h"
#include "common/Utf.h"

namespace orivanta {

std::wstring FolderLinkText(const std::wstring& link) {
    return L"数据文件夹不能安全使用：" + link + L" 是链接或挂载点。请删除该链接后重试，或联系欧瑞凡达客服 " +
           SupportHotlineText() + L"。";
}

void HeldFolders::Hold(const std::wstring& folder) {
    ProtectedFolder held = HoldFolderAsItIs(folder);
    switch (held.refusal) {
        case FolderRefusal::None:
            folders_.push_back(std::move(held.handle));
            return;
        case FolderRefusal::ReparsePoint:
            throw std::runtime_error(Utf16ToUtf8(FolderLinkText(folder)));
        default:
            throw std::runtime_error("create directory failed");
    }
}

std::wstring HeldFolders::HoldBelow(const std::wstring& base, const std::wstring& relative) {
    std::wstring folder = base;
    for (size_t start = 0; start <= relative.size();) {
        const size_t end = std::min(relative.find(L'\\', start), relative.size());
        folder += L"\\" + relative.substr(start, end - start);
        Hold(folder);
        start = end + 1;
    }
    return folder;
}

void HeldFolders::Keep(UniqueHandle folder) { folders_.push_back(std::move(folder)); }

void HeldFolders::Keep(HeldFolders other) {
    for (UniqueHandle& folder : other.folders_) folders_.push_back(std::move(folder));
}

HeldFolders HoldInDataRoot(const std::wstring& dataRoot, const std::wstring& relative) {
    EnsureDirectory(dataRoot);
    HeldFolders held;
    held.Hold(dataRoot);
    held.HoldBelow(dataRoot, relative);
    return held;
}

}  // namespace orivanta
