#pragma once
// What the window's items do — edition cards, the main button, closing — and
// the window's answer to a finished worker. UI thread only; the actions reach
// the worker through AppState alone.

#include <windows.h>

#include "state/AppState.h"
#include "ui/CanvasLayout.h"
#include "state/Edition.h"
#include "workflow/DownloadWorker.h"

namespace orivanta {

// The message box the actions show. Returns the function it replaces, so that a
// test can answer the questions itself and put the system's box back afterwards.
using MessageBoxFunction = int(WINAPI*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
MessageBoxFunction SetActionMessageBox(MessageBoxFunction function);

// A card click or Enter/Space on a focused card (Server or Client). Refused
// while busy, and for the server edition once a host was found.
void SelectEdition(HWND window, Edition edition);

// The main button, as MainButtonModeFor decides: nothing without an edition,
// pause while busy, otherwise start (or resume) a download on App().workerThread
// after joining the previous one. Sets busy when it starts a worker.
using WorkerBody = void (*)();
void MainButtonAction(WorkerBody worker = RunDownloadWorker);

// What a click on the item does, and what its accessible default action does:
// the main button also takes the keyboard focus. Nothing while the window is
// disabled (a message box it owns is up).
void ActivateRegion(HWND window, HitRegion region);

// WM_CLOSE: closes at once when idle; during a download asks first (not in the
// automatic-start mode), then records the "UserCancelled" report and closes.
void HandleCloseRequest(HWND window);

// kWorkerDoneMessage: clears busy, whatever the outcome, and withdraws the
// server edition when a host was found while it ran.
void HandleWorkerDone(HWND window, WorkerOutcome outcome);

}  // namespace orivanta
