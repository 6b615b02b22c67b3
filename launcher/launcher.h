#pragma once
// The launcher module: process entry and run state, the dialog, and the
// supervision of the started setup program.

#include <windows.h>

#include "text.h"

constexpr int DialogTemplateId = 100;
constexpr int SeparatorId = 102;
constexpr int AbortButtonId = 110;
constexpr int InstallButtonId = 111;

// The full path of "setup.exe", once the extraction has got that far.
extern ProcessText SetupProgramPath;

extern const char WindowCaption[];

INT_PTR CALLBACK LauncherDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                    LPARAM lParam);
void ShowDialogItem(HWND dialog, int id, bool visible);

// Starts the setup program and waits for its end: 0 once it has ended, -1
// when it could not be started.
int RunSetupAndWait(TextView path, HWND dialog);
