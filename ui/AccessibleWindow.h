#pragma once
// The window's accessibility object (Microsoft Active Accessibility): an
// IAccessible for the client area over the tree of ui/AccessibleTree, and the
// events that let a screen reader follow changes without polling. UI thread
// only; calls from other processes arrive marshalled onto it.

#include <windows.h>

#include "ui/CanvasLayout.h"

namespace orivanta {

// Posted by accDoDefaultAction and accSelect with the HitRegion in wParam: the
// window then does what a click there does, after the caller has its answer,
// since a click may open a modal box.
constexpr UINT kAccessibleActionMessage = WM_APP + 12;

// WM_GETOBJECT: the answer for the client area; 0 for any other object, which
// the default window procedure answers.
LRESULT AnswerGetObject(HWND window, WPARAM flags, LPARAM objectId);

// WM_DESTROY: clients may hold the object longer than the window lives; from
// now on it answers that it is disconnected.
void DisconnectAccessibleObject();

// After each frame: focus, selection, name, value and state events for what
// changed since the previous frame.
void AnnounceAccessibleChanges(HWND window);

}  // namespace orivanta
