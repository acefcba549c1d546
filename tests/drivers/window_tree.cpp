// Reads the main window's accessibility tree from another process, as a screen
// reader does, and prints it as JSON lines (UTF-8).
//
//   window_tree tree                 one line per child: id, name, role, state, value, description,
//                                    default action and screen location (left, top, width, height)
//   window_tree do NAME              the default action of the child named NAME; exits 1 without one
//   window_tree focus ID SECONDS     prints {"ready": true} once hooked; once a focus event for child
//                                    ID came (exit 0) or SECONDS passed (exit 1), the child of each
//                                    focus event the window raised meanwhile, in order
//
// Exits 2 when the window or its accessible object cannot be had.
#include <windows.h>

#include <oleacc.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "common/Utf.h"
#include "ui/MainWindow.h"

namespace {

using orivanta::ComPtr;

HWND target = nullptr;
ComPtr<IAccessible> client;
long awaitedChild = 0;
bool awaitedCame = false;

void Print(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string Quoted(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            escaped += L'\\';
            escaped += c;
        } else if (c == L'\n') {
            escaped += L"\\n";
        } else if (c >= 0x20) {
            escaped += c;
        }
    }
    return "\"" + orivanta::Utf16ToUtf8(escaped) + "\"";
}

VARIANT Child(long id) {
    VARIANT child;
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

std::wstring Text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), long id) {
    BSTR text = nullptr;
    std::wstring result;
    if (SUCCEEDED((client.get()->*get)(Child(id), &text)) && text != nullptr) result = text;
    ::SysFreeString(text);
    return result;
}

long Number(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), long id) {
    VARIANT value;
    ::VariantInit(&value);
    const long number = SUCCEEDED((client.get()->*get)(Child(id), &value)) && value.vt == VT_I4 ? value.lVal : -1;
    ::VariantClear(&value);
    return number;
}

std::string Describe(long id) {
    LONG left = 0, top = 0, width = 0, height = 0;
    client->accLocation(&left, &top, &width, &height, Child(id));
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "{\"id\": %ld, \"role\": %ld, \"state\": %ld, \"location\": [%ld, %ld, %ld, %ld]",
                  id, Number(&IAccessible::get_accRole, id), Number(&IAccessible::get_accState, id), left, top,
                  width, height);
    return numbers + std::string(", \"name\": ") + Quoted(Text(&IAccessible::get_accName, id)) +
           ", \"value\": " + Quoted(Text(&IAccessible::get_accValue, id)) +
           ", \"description\": " + Quoted(Text(&IAccessible::get_accDescription, id)) +
           ", \"action\": " + Quoted(Text(&IAccessible::get_accDefaultAction, id)) + "}";
}

// The children's simple ids, as AccessibleChildren hands them out.
std::vector<long> ChildIds() {
    LONG count = 0;
    client->get_accChildCount(&count);
    std::vector<VARIANT> children(static_cast<std::size_t>(count));
    LONG obtained = 0;
    std::vector<long> ids;
    if (count <= 0 || FAILED(::AccessibleChildren(client.get(), 0, count, children.data(), &obtained))) return ids;
    for (LONG i = 0; i < obtained; ++i) {
        if (children[i].vt == VT_I4) ids.push_back(children[i].lVal);
        ::VariantClear(&children[i]);
    }
    return ids;
}

std::vector<long> focusedChildren;

void CALLBACK FocusEvent(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
    if (window != target || object != OBJID_CLIENT) return;
    focusedChildren.push_back(child);
    if (child == awaitedChild) awaitedCame = true;
}

int WatchFocus(long child, int seconds) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(target, &process);
    HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, FocusEvent, process, 0,
                                           WINEVENT_OUTOFCONTEXT);
    if (hook == nullptr) return 2;
    Print("{\"ready\": true}");
    awaitedChild = child;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (!awaitedCame && ::GetTickCount64() < deadline) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
    ::UnhookWinEvent(hook);
    for (long child : focusedChildren) Print("{\"event\": \"focus\", \"id\": " + std::to_string(child) + "}");
    return awaitedCame ? 0 : 1;
}

int Run(int count, wchar_t** arguments) {
    const std::wstring command = count > 1 ? arguments[1] : L"";
    target = ::FindWindowW(orivanta::kMainWindowClass, nullptr);
    if (target == nullptr ||
        FAILED(::AccessibleObjectFromWindow(target, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                            client.put_void()))) {
        return 2;
    }
    if (command == L"tree") {
        for (long id : ChildIds()) Print(Describe(id));
        return 0;
    }
    if (command == L"do" && count > 2) {
        for (long id : ChildIds()) {
            if (Text(&IAccessible::get_accName, id) == arguments[2]) {
                return SUCCEEDED(client->accDoDefaultAction(Child(id))) ? 0 : 1;
            }
        }
        return 1;
    }
    if (command == L"focus" && count > 3) return WatchFocus(_wtoi(arguments[2]), _wtoi(arguments[3]));
    return 2;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments == nullptr || FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int code = Run(count, arguments);
    client.reset();
    ::CoUninitialize();
    ::LocalFree(arguments);
    return code;
}
