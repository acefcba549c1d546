#pragma once
// What the window's items do — edition cards, the main button, closing — and
// the window's answer to a finished worker. UI thread only; the actions reach
// the worker through AppState alone.

#include <windows.h>

#include "state/AppState.h"
#include "workflow/DownloadWorker.h"

namespace orivanta {

// The message box the actions show. Returns the function it replaces, so that a
// test can answer the questions itself and put the system's box back afterwards.
using MessageBoxFunction = int(WINAPI*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
MessageBoxFunction SetActionMessageBox(MessageBoxFunction function);

// A card click or Enter/Space on a focused card; edition 1 server, 2 client.
// Refused while busy, and for the server edition once a host was found.
void SelectEdition(HWND window, int edition);

// The main button: nothing without an edition, pause while busy, otherwise start
// (or resume) a download on App().workerThread after joining the previous one.
using WorkerBody = void (*)();
void MainButtonAction(WorkerBody worker = RunDownloadWorker);

// WM_CLOSE: closes at once when idle; during a download asks first (not in the
// automatic-start mode), then records the "UserCancelled" report and closes.
void HandleCloseRequest(HWND window);

// kWorkerDoneMessage.
void HandleWorkerDone(HWND window, WorkerOutcome outcome);

}  // namespace orivanta
