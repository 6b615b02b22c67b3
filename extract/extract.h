#pragma once
// The module `extract`: turns the self-archive into an expanded setup
// program in a workspace of the run's own under the temporary path, keeping
// the dialog's status line current and reporting each failure in the error
// box.

#include <windows.h>

#include "error_box.h"
#include "path_text.h"
#include "self_archive.h"
#include "text.h"

// --- process-wide run state of the module ------------------------------------

// The outermost directory that the run had to create: the workspace itself,
// or a missing level above it.
extern ProcessText FirstCreatedDirectory;
// The workspace the run created, once it is judged and held.
extern ProcessText WorkspaceDirectory;
// The workspace entry itself, held open from its judging until the exit
// clean-up removes the directory; null when none is held.
extern HANDLE WorkspaceEntry;
// «<workspace>\setup.ex_», set just before that file is created.
extern ProcessText CompressedSetupPath;
// What the status line shows, from 0 to 100.
extern int ProgressPercent;
// Which of ShowProgress's texts the status line shows; 0 for any other.
extern int ShownProgress;

// Releases the module's texts at shut-down.
void ReleaseExtractState();

// --- status line and message pump, the launcher shell's ----------------------

constexpr int StatusLineId = 103;

// Serves at most 101 pending messages of the thread's queue; nothing in a
// silent run.
void PumpMessages();
// Sets `text` on the dialog's status line and logs it; a silent run only
// logs it. `progress` tells ShowProgress's texts apart; 0 for the others.
void ShowStatus(HWND dialog, const char* text, int progress = 0);
// Sets ProgressPercent to `percent`, clamped, and shows "Decompressing
// setup : N%" (and " starting setup program ..." when `starting`), then
// pauses 10 ms and pumps, unless the run is silent; a text equal to the one
// shown is skipped.
void ShowProgress(HWND dialog, int percent, bool starting);

// --- workspace directories -----------------------------------------------------

// Code of CreateDirectoryChain for a component that exists but is no directory.
constexpr int ComponentNotDirectory = 1000;

// Code of CreateWorkspace for a workspace that is not the one the run
// created (swapped between its creation and its hold) or whose security
// cannot be read, and for a run whose token cannot be read.
constexpr int WorkspaceNotOwn = 1001;

// Creates every missing component of `path` after the first, closed, and
// records the first one created; `accumulated`, empty, receives the path
// rebuilt with single backslashes. 0, 1000 or the last-error code of the creation
// that failed.
int CreateDirectoryChain(TextView path, Text& accumulated);
// Creates the run's own workspace in `temporaryPath` (created as far as
// missing): «Halvex», else a fresh «Halvex-» and eight random hex digits,
// judged and held (WorkspaceDirectory, WorkspaceEntry). 0, 1000, 1001 or a
// last-error code.
int CreateWorkspace(TextView temporaryPath);
// Closes WorkspaceEntry, if one is held.
void CloseWorkspaceEntry();
// Removes the workspace and the levels above it that the run created, as
// far as they are empty, and forgets them.
void RemoveWorkspace();

// --- extraction pipeline ---------------------------------------------------------

// Closes `file` unless it is already the invalid-handle value, which it is
// afterwards in any case; false when the close failed.
bool CloseFileOnce(HANDLE& file);
// Closes `handle` unless it is null, which it is afterwards in any case.
void CloseHeldHandle(HANDLE& handle);

// The launcher's own path, whole; empty when the platform reports none.
Text OwnPath();

// Extracts and expands the setup program; `setupProgramPath` receives the
// path of "setup.exe" when the pipeline gets as far as creating it. True only
// when "setup.exe" was written completely.
bool ExtractSetupProgram(HWND dialog, ProcessText& setupProgramPath);
