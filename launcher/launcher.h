#pragma once
// The launcher module: process entry and run state, the command line and
// the log, the dialog with its status line and error box, and the
// supervision of the started setup program.

#include <windows.h>

#include "run_log.h"
#include "run_state.h"
#include "text.h"

constexpr int DialogTemplateId = 100;
constexpr int SeparatorId = 102;
constexpr int AbortButtonId = 110;
constexpr int InstallButtonId = 111;

// The exit code of a silent run whose job stopped before the setup program
// started (ERROR_INSTALL_FAILURE).
constexpr DWORD InstallFailure = 1603;

extern const char WindowCaption[];

INT_PTR CALLBACK LauncherDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                    LPARAM lParam);
void ShowDialogItem(HWND dialog, int id, bool visible);
// Sets the text of the dialog's item `id`, as SetDlgItemTextA does.
void SetDialogItemText(HWND dialog, int id, const char* text);

// The whole run from the launcher's command line on: the dialog, or under /S
// the job alone, then the clean-up. The process's exit code: 0 without /S.
DWORD RunLauncher(const wchar_t* commandLine);
// A job that stops before the setup program's start or end could be seen:
// logs `message` as the failure, as the error box does for the pipeline's,
// and gives InstallFailure.
DWORD InstallFailed(const char* message);
// Deletes "setup.exe" and removes the workspace, and forgets both, so that
// a second call touches nothing.
void RemoveRunTraces();
// Extracts the setup program and runs it: its exit code, the Windows error
// of a start that failed, or InstallFailure.
DWORD RunJob(HWND dialog);
// Starts the setup program with `arguments` (none: its path alone) and
// waits for its end: its exit code, or the Windows error of the start. Both
// texts run to a terminator.
DWORD RunSetupAndWait(TextView path, TextView arguments, HWND dialog);
