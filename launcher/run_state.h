#pragma once
// The run's own state: how the launcher was asked to run (its command line's
// options), where it reports (the log), and what it has made that the exit
// clean-up undoes. One per process, zero at start: RunLauncher sets the
// options, the log is opened next, and the setup program's path is filled
// in once the extraction gets that far.

#include <windows.h>

#include "text.h"

struct RunState {
  // /S: no window, no box, and nothing waits for a display.
  bool silent;
  // /WAITALL: the run waits until every process the setup program started
  // has ended, not for the setup program alone.
  bool waitForAll;
  // Everything after the launcher's own program name, as typed; it runs to
  // the command line's terminator.
  TextView launcherArguments;
  // What followed `--`, for the setup program; it runs to the command
  // line's terminator.
  TextView setupArguments;
  // The /LOG file, open for appending; null while the run has no log.
  HANDLE log;
  // The full path of "setup.exe", once the extraction has got that far.
  ProcessText setupProgramPath;
};

extern RunState Run;
