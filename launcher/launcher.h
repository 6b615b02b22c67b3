#pragma once
// The launcher module: process entry and run state, the dialog, and the
// supervision of the started setup program.

#include <windows.h>

#include "text.h"

constexpr int DialogTemplateId = 100;
constexpr int SeparatorId = 102;
constexpr int AbortButtonId = 110;
constexpr int InstallButtonId = 111;

// The exit code of a silent run whose job stopped before the setup program
// started (ERROR_INSTALL_FAILURE).
constexpr DWORD InstallFailure = 1603;

// The full path of "setup.exe", once the extraction has got that far.
extern ProcessText SetupProgramPath;
// What followed `--` on the launcher's command line, for the setup program;
// it runs to the command line's terminator.
extern TextView SetupArguments;

extern const char WindowCaption[];

INT_PTR CALLBACK LauncherDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                    LPARAM lParam);
void ShowDialogItem(HWND dialog, int id, bool visible);

// The whole run from the launcher's command line on: the dialog, or under /S
// the job alone, then the clean-up. The process's exit code: 0 without /S.
DWORD RunLauncher(const wchar_t* commandLine);
// Extracts the setup program and runs it: its exit code, the Windows error
// of a start that failed, or InstallFailure.
DWORD RunJob(HWND dialog);
// Starts the setup program with `arguments` (none: its path alone) and
// waits for its end: its exit code, or the Windows error of the start. Both
// texts run to a terminator.
DWORD RunSetupAndWait(TextView path, TextView arguments, HWND dialog);
