#pragma once
// The launcher's own command line, read by the usual Windows rules: blanks
// (space and tab) separate arguments, double quotes group, and the program
// name comes first. Portable: no call reaches the platform.

#include "text.h"

struct LauncherOptions {
  bool silent = false;  // /S
  // FILE of /LOG=FILE, zero-terminated, in `decoded`; empty: no log.
  TextView logFile = {nullptr, 0};
  // What follows `--` and the blanks after it, verbatim, to the end of the
  // parsed line; empty: the setup program gets no arguments.
  TextView setupArguments = {nullptr, 0};
  Text decoded;  // the arguments as read, each in place of its raw text
};

// Options are case-insensitive; arguments the launcher does not know are
// ignored. The first unquoted argument that is exactly `--` ends the options.
LauncherOptions ParseLauncherCommandLine(const wchar_t* units, int length);

// Moves `position` past the program name at the start of `line`: quotes
// group, and a backslash is an ordinary unit.
void SkipProgramName(TextView line, int& position);
// True when only blanks are left from `position` on; `position` is moved past
// the blanks.
bool SkipBlanks(TextView line, int& position);
// Reads the argument at `position` (no blank there), resolving quotes and the
// backslashes before them, and writes it over its own raw text, which is
// never shorter. Returns its length; `position` is left after it.
int ReadArgumentInPlace(wchar_t* line, int length, int& position);
