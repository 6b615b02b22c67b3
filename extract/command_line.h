#pragma once
// The launcher's own command line, read by the usual Windows rules: blanks
// (space and tab) separate arguments, double quotes group, and the program
// name comes first. Portable: no call reaches the platform.

#include "text.h"

struct LauncherOptions {
  bool silent = false;  // /S
  Text logFile;         // FILE of /LOG=FILE; empty: no log
  // What follows `--` and the blanks after it, verbatim; points into the
  // parsed line. Empty: the setup program gets no arguments.
  TextView setupArguments = {nullptr, 0};
};

// Options are case-insensitive; arguments the launcher does not know are
// ignored. The first unquoted argument that is exactly `--` ends the options.
LauncherOptions ParseLauncherCommandLine(const wchar_t* units, int length);

// The program name at the start of `line`: quotes group and are dropped, a
// backslash is an ordinary unit. `position` is left after it.
Text ProgramName(TextView line, int& position);
// The next argument from `position` on (blanks before it skipped), with
// quotes and the backslashes before them resolved; `position` is left after
// it, at the end of `line` when there is none (and the result is empty).
Text NextArgument(TextView line, int& position);
// True when only blanks are left from `position` on; `position` is moved past
// the blanks.
bool SkipBlanks(TextView line, int& position);
