#pragma once
// The module `extract`: turns the self-archive into an expanded setup
// program in the workspace «<temporary path>\Halvex», keeping the dialog's
// status line current and reporting each failure in the error box.

#include <windows.h>

#include "error_box.h"
#include "path_text.h"
#include "run_log.h"
#include "self_archive.h"
#include "text.h"

// --- process-wide run state of the module ------------------------------------

// The outermost directory that CreateDirectoryChain had to create; set once.
extern ProcessText FirstCreatedDirectory;
// The workspace entry itself, held open from its judging until just before
// the exit clean-up removes the directory; null when none is held.
extern HANDLE WorkspaceEntry;
// «<workspace>\setup.ex_», set just before that file is created.
extern ProcessText CompressedSetupPath;
// What the status line shows, clamped to 0..100 by ShowProgress.
extern int ProgressPercent;

// Releases the module's texts at shut-down.
void ReleaseExtractState();

// --- status line and message pump --------------------------------------------

constexpr int StatusLineId = 103;

// Serves at most 101 pending messages of the thread's queue; nothing in a
// silent run.
void PumpMessages();
// Sets `text` on the dialog's status line and logs it; a silent run only
// logs it. `progress` tells ShowProgress's texts apart, so that one repeated
// without change is logged once; 0 for the others.
void ShowStatus(HWND dialog, const char* text, int progress = 0);
// Shows "Decompressing setup : N%" (and " starting setup program ..." when
// `starting`), then pauses 10 ms and pumps, unless the run is silent.
void ShowProgress(HWND dialog, bool starting);

// --- workspace directories -----------------------------------------------------

// Code of CreateDirectoryChain for a component that exists but is no directory.
constexpr int ComponentNotDirectory = 1000;

// Code of CreateDirectoryChain for a workspace that is not the launcher's own
// to use: a reparse point, another account's, open to others, held open by
// someone to be deleted or renamed, or of security that cannot be read.
constexpr int WorkspaceNotOwn = 1001;

// Creates every missing component of `path` after the first, each with a
// protected DACL for the token's default owner, SYSTEM and Administrators
// only; then judges the last component and holds it (WorkspaceEntry).
// 0, 1000, 1001 or the last-error code of the creation that failed.
int CreateDirectoryChain(TextView path);
// Closes WorkspaceEntry, if one is held.
void CloseWorkspaceEntry();

// --- extraction pipeline ---------------------------------------------------------

// Closes `file` unless it is already the invalid-handle value, which it is
// afterwards in any case; false when the close failed.
bool CloseFileOnce(HANDLE& file);

// The launcher's own path, whole; empty when the platform reports none.
Text OwnPath();

// Extracts and expands the setup program; `setupProgramPath` receives the
// path of "setup.exe" when the pipeline gets as far as creating it. True only
// when "setup.exe" was written completely.
bool ExtractSetupProgram(HWND dialog, ProcessText& setupProgramPath);
