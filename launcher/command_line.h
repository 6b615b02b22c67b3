#pragma once
// The launcher's own command line, read by the usual Windows rules: blanks
// (space and tab) separate arguments, double quotes group, and the program
// name comes first. Portable: no call reaches the platform.

#include "text.h"

struct LauncherOptions {
  bool silent = false;  // /S
  bool waitAll = false;  // /WAITALL
  // Everything after the program name and the blanks after it, verbatim, to
  // the end of the parsed line: the run's own arguments.
  TextView arguments = {nullptr, 0};
  // FILE of /LOG=FILE, zero-terminated, in `decoded`; empty: no log.
  TextView logFile = {nullptr, 0};
  // What follows `--` and the blanks after it, verbatim, to the end of the
  // parsed line; empty: the setup program gets no arguments.
  TextView setupArguments = {nullptr, 0};
  Text decoded;  // the arguments as read, each in place of its raw text
};

// Options are case-insensitive; arguments the launcher does not know are
// ignored. The first unquoted argument that is exactly `--` ends the options.
// The line ends at its length or at a zero unit, whichever comes first.
LauncherOptions ParseLauncherCommandLine(const wchar_t* units, int length);

// The steps of the parse, over a zero-terminated line that may be written.
// The end of the program name at `cursor`: quotes group, and a backslash is
// an ordinary unit.
wchar_t* SkipProgramName(wchar_t* cursor);
wchar_t* SkipBlanks(wchar_t* cursor);
// Reads the argument at `cursor` (no blank there), resolving quotes and the
// backslashes before them, and writes it zero-terminated over its own raw
// text, which is never shorter; `cursor` moves past it and past the one blank
// after it, which the terminator may take. Returns the argument's terminator.
wchar_t* ReadArgumentInPlace(wchar_t*& cursor);
