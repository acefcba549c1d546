// Prints, as UTF-8 lines, the save folder that ChooseSaveFolder picks and the
// bytes that GetDiskFreeSpaceExW reports available on D: (-1 when it fails).
// Accepts --diagnostic-data-root=<folder> like the program.
#include <windows.h>

#include <exception>
#include <string>

#include "app/Options.h"
#include "common/Utf.h"
#include "storage/StorageLocations.h"

namespace {

void WriteLine(const std::string& text) {
    const std::string line = text + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

int main() {
    using namespace orivanta;
    const std::wstring dataRoot = ReadCommandLineOption(L"--diagnostic-data-root");
    ULARGE_INTEGER available{};
    const bool measured = ::GetDiskFreeSpaceExW(L"D:\\", &available, nullptr, nullptr);
    try {
        WriteLine("folder=" + Utf16ToUtf8(ChooseSaveFolder(dataRoot).path));
    } catch (const std::exception& failure) {
        WriteLine(std::string("error=") + failure.what());
    }
    WriteLine("d-available=" + (measured ? std::to_string(available.QuadPart) : std::string("-1")));
    return 0;
}
