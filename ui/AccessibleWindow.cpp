#include "ui/AccessibleWindow.h"

#include <oleacc.h>

#include <atomic>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "state/AppState.h"
#include "ui/AccessibleTree.h"
#include "ui/WindowInteraction.h"

namespace orivanta {
namespace {

std::vector<AccessibleItem> CurrentTree(HWND window) {
    const WindowInteraction& interaction = Interaction();
    const SceneInput input{ReadDisplaySnapshot(), App().busy.load(), interaction.hoverRegion, interaction.focusIndex};
    return BuildAccessibleTree(input, {::GetFocus() == window, ::IsWindowEnabled(window) != FALSE});
}

HRESULT ReturnText(const std::wstring& text, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (text.empty()) return S_FALSE;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

void SetChild(VARIANT* out, long child) {
    out->vt = VT_I4;
    out->lVal = child;
}

class AccessibleWindow final : public IAccessible {
public:
    explicit AccessibleWindow(HWND window) : window_(window) {}

    void Disconnect() { window_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: clients use the vtable.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count != nullptr) *count = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (parent == nullptr) return E_INVALIDARG;
        *parent = nullptr;
        if (const HRESULT gone = Gone()) return gone;
        return ::CreateStdAccessibleObject(window_, OBJID_WINDOW, __uuidof(IDispatch),
                                           reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (count == nullptr) return E_INVALIDARG;
        if (const HRESULT gone = Gone()) return gone;
        *count = kAccessibleChildCount;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (out == nullptr) return E_INVALIDARG;
        *out = nullptr;
        long id = 0;
        if (const HRESULT failed = Child(child, id)) return failed;
        // Every child is a simple element, answered through this object.
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        return Text(child, name, [this](const AccessibleItem* item) {
            if (item != nullptr) return item->name;
            wchar_t title[128] = L"";
            ::GetWindowTextW(window_, title, 128);
            return std::wstring(title);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return Text(child, value, [](const AccessibleItem* item) { return item ? item->value : std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        return Text(child, description,
                    [](const AccessibleItem* item) { return item ? item->description : std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (role == nullptr) return E_INVALIDARG;
        ::VariantInit(role);
        long id = 0;
        if (const HRESULT failed = Child(child, id)) return failed;
        SetChild(role, id == CHILDID_SELF ? ROLE_SYSTEM_CLIENT : ItemOf(CurrentTree(window_), id).role);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (state == nullptr) return E_INVALIDARG;
        ::VariantInit(state);
        long id = 0;
        if (const HRESULT failed = Child(child, id)) return failed;
        if (id == CHILDID_SELF) {
            SetChild(state, STATE_SYSTEM_FOCUSABLE | (::GetFocus() == window_ ? STATE_SYSTEM_FOCUSED : 0));
        } else {
            SetChild(state, ItemOf(CurrentTree(window_), id).state);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return Text(child, help, [](const AccessibleItem*) { return std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override {
        if (file != nullptr) *file = nullptr;
        if (topic != nullptr) *topic = 0;
        return Gone() ? Gone() : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return Text(child, shortcut, [](const AccessibleItem*) { return std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (focus == nullptr) return E_INVALIDARG;
        ::VariantInit(focus);
        if (const HRESULT gone = Gone()) return gone;
        if (::GetFocus() != window_) return S_FALSE;
        SetChild(focus, CHILDID_SELF);
        for (const AccessibleItem& item : CurrentTree(window_)) {
            if ((item.state & STATE_SYSTEM_FOCUSED) != 0) SetChild(focus, static_cast<long>(item.id));
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (selection == nullptr) return E_INVALIDARG;
        ::VariantInit(selection);
        if (const HRESULT gone = Gone()) return gone;
        for (const AccessibleItem& item : CurrentTree(window_)) {
            if ((item.state & STATE_SYSTEM_SELECTED) != 0) {
                SetChild(selection, static_cast<long>(item.id));
                return S_OK;
            }
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return Text(child, action,
                    [](const AccessibleItem* item) { return item ? item->defaultAction : std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        long id = 0;
        if (const HRESULT failed = Child(child, id)) return failed;
        if (id == CHILDID_SELF) return DISP_E_MEMBERNOTFOUND;
        const AccessibleItem item = ItemOf(CurrentTree(window_), id);
        const bool focusable = (item.state & STATE_SYSTEM_FOCUSABLE) != 0;
        const bool selectable = (item.state & STATE_SYSTEM_SELECTABLE) != 0;
        if ((flags & ~(SELFLAG_TAKEFOCUS | SELFLAG_TAKESELECTION)) != 0 ||
            ((flags & SELFLAG_TAKEFOCUS) != 0 && !focusable) || ((flags & SELFLAG_TAKESELECTION) != 0 && !selectable)) {
            return E_INVALIDARG;
        }
        if ((flags & SELFLAG_TAKEFOCUS) != 0) {
            Interaction().focusIndex = AccessibleFocusItem(item.id);
            ::SetFocus(window_);
            ::InvalidateRect(window_, nullptr, FALSE);
        }
        // Choosing a card is what a click on it does.
        if ((flags & SELFLAG_TAKESELECTION) != 0) {
            ::PostMessageW(window_, kAccessibleActionMessage, static_cast<WPARAM>(item.region), 0);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) return E_INVALIDARG;
        *left = *top = *width = *height = 0;
        long id = 0;
        if (const HRESULT failed = Child(child, id)) return failed;
        RECT client{};
        ::GetClientRect(window_, &client);
        CanvasRect place{0, 0, kCanvasWidth, kCanvasHeight};
        if (id != CHILDID_SELF) place = ItemOf(CurrentTree(window_), id).place;
        const float sx = static_cast<float>(client.right) / kCanvasWidth;
        const float sy = static_cast<float>(client.bottom) / kCanvasHeight;
        POINT nearCorner{static_cast<LONG>(place.left * sx + 0.5f), static_cast<LONG>(place.top * sy + 0.5f)};
        POINT farCorner{static_cast<LONG>(place.right * sx + 0.5f), static_cast<LONG>(place.bottom * sy + 0.5f)};
        ::ClientToScreen(window_, &nearCorner);
        ::ClientToScreen(window_, &farCorner);
        *left = nearCorner.x;
        *top = nearCorner.y;
        *width = farCorner.x - nearCorner.x;
        *height = farCorner.y - nearCorner.y;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        if (end == nullptr) return E_INVALIDARG;
        ::VariantInit(end);
        long id = 0;
        if (const HRESULT failed = Child(start, id)) return failed;
        long next = 0;
        if (id == CHILDID_SELF && direction == NAVDIR_FIRSTCHILD) next = 1;
        if (id == CHILDID_SELF && direction == NAVDIR_LASTCHILD) next = kAccessibleChildCount;
        if (id != CHILDID_SELF && direction == NAVDIR_NEXT && id < kAccessibleChildCount) next = id + 1;
        if (id != CHILDID_SELF && direction == NAVDIR_PREVIOUS && id > 1) next = id - 1;
        if (next == 0) return S_FALSE;
        SetChild(end, next);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
        if (child == nullptr) return E_INVALIDARG;
        ::VariantInit(child);
        if (const HRESULT gone = Gone()) return gone;
        POINT point{x, y};
        ::ScreenToClient(window_, &point);
        RECT client{};
        ::GetClientRect(window_, &client);
        if (!::PtInRect(&client, point)) return S_FALSE;
        const CanvasPoint canvas = MapClientToCanvas(static_cast<float>(point.x), static_cast<float>(point.y),
                                                     client.right, client.bottom);
        SetChild(child, AccessibleChildAt(CurrentTree(window_), canvas));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        long id = 0;
        if (const HRESULT failed = Child(child, id)) return failed;
        if (id == CHILDID_SELF) return DISP_E_MEMBERNOTFOUND;
        const AccessibleItem item = ItemOf(CurrentTree(window_), id);
        if (item.defaultAction.empty()) return DISP_E_MEMBERNOTFOUND;
        ::PostMessageW(window_, kAccessibleActionMessage, static_cast<WPARAM>(item.region), 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    // The window is gone, or the call came from a thread that must not read its state.
    HRESULT Gone() const {
        if (window_ == nullptr || !::IsWindow(window_)) return CO_E_OBJNOTCONNECTED;
        if (::GetWindowThreadProcessId(window_, nullptr) != ::GetCurrentThreadId()) return RPC_E_WRONG_THREAD;
        return S_OK;
    }

    HRESULT Child(const VARIANT& child, long& id) const {
        if (const HRESULT gone = Gone()) return gone;
        if (child.vt != VT_I4 || child.lVal < CHILDID_SELF || child.lVal > kAccessibleChildCount) return E_INVALIDARG;
        id = child.lVal;
        return S_OK;
    }

    static const AccessibleItem& ItemOf(const std::vector<AccessibleItem>& tree, long id) { return tree[id - 1]; }

    template <typename Pick>
    HRESULT Text(const VARIANT& child, BSTR* out, Pick pick) const {
        if (out == nullptr) return E_INVALIDARG;
        *out = nullptr;
        long id = 0;
        if (const HRESULT failed = Child(child, id)) return failed;
        if (id == CHILDID_SELF) return ReturnText(pick(nullptr), out);
        const std::vector<AccessibleItem> tree = CurrentTree(window_);
        return ReturnText(pick(&ItemOf(tree, id)), out);
    }

    std::atomic<ULONG> references_{1};
    HWND window_;
};

ComPtr<AccessibleWindow> accessibleObject;
std::vector<AccessibleItem> announced;

}  // namespace

LRESULT AnswerGetObject(HWND window, WPARAM flags, LPARAM objectId) {
    if (static_cast<LONG>(objectId) != OBJID_CLIENT) return 0;
    if (!accessibleObject) *accessibleObject.put() = new AccessibleWindow(window);
    return ::LresultFromObject(__uuidof(IAccessible), flags, accessibleObject.get());
}

void DisconnectAccessibleObject() {
    announced.clear();
    if (accessibleObject) accessibleObject->Disconnect();
    accessibleObject.reset();
}

void AnnounceAccessibleChanges(HWND window) {
    std::vector<AccessibleItem> tree = CurrentTree(window);
    // The first frame is the starting point, not a change.
    if (announced.size() == tree.size()) {
        for (std::size_t i = 0; i < tree.size(); ++i) {
            const AccessibleItem& now = tree[i];
            const AccessibleItem& before = announced[i];
            const long child = static_cast<long>(now.id);
            const auto raise = [&](DWORD event) { ::NotifyWinEvent(event, window, OBJID_CLIENT, child); };
            const long changed = now.state ^ before.state;
            if ((changed & STATE_SYSTEM_INVISIBLE) != 0) {
                raise((now.state & STATE_SYSTEM_INVISIBLE) != 0 ? EVENT_OBJECT_HIDE : EVENT_OBJECT_SHOW);
            }
            if (now.name != before.name) raise(EVENT_OBJECT_NAMECHANGE);
            if (now.value != before.value) raise(EVENT_OBJECT_VALUECHANGE);
            if (now.description != before.description) raise(EVENT_OBJECT_DESCRIPTIONCHANGE);
            if ((changed & ~(STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_FOCUSED | STATE_SYSTEM_HOTTRACKED)) != 0) {
                raise(EVENT_OBJECT_STATECHANGE);
            }
            if ((changed & now.state & STATE_SYSTEM_SELECTED) != 0) raise(EVENT_OBJECT_SELECTION);
            if ((changed & now.state & STATE_SYSTEM_FOCUSED) != 0) raise(EVENT_OBJECT_FOCUS);
        }
    }
    announced = std::move(tree);
}

}  // namespace orivanta
