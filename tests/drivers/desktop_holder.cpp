// Keeps the test prefix's desktop open for a whole test run.
//
// Wine closes a desktop shortly after the last program using it ends; a program
// that creates its window while that happens gets "invalid window handle". The
// prefix set-up starts this holder detached and waits for the file named by the
// argument, which appears once the desktop is ready; `wineserver -k` ends it.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 2 || ::GetDesktopWindow() == nullptr) return 1;
    HANDLE marker = ::CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return 1;
    ::CloseHandle(marker);
    ::Sleep(INFINITE);
    return 0;
}
