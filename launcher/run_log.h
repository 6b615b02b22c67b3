#pragma once
// The run's log (/LOG=FILE) and its silence (/S). The log takes one line per
// event, appended as it happens: the local date and time, a blank, a label
// and a text, in UTF-8. Without a log every call here does nothing.

#include "text.h"

// Opens `path` (zero-terminated) for appending, never truncating it; a log
// that cannot be opened (a missing folder included, which is not created) is
// no log, and neither is one that is a link (symbolic, junction or hard), or
// in a privileged run one whose owner the run does not trust. A privileged
// run creates its log closed. Needs the run's account read.
void OpenRunLog(TextView path);
void CloseRunLog();

// One line: `label`, the ASCII `text` and then `units` (UTF-16).
void LogEvent(const char* label, const char* text, TextView units = {});
// One line: `label` and then `units`, a path or a command line.
void LogUnits(const char* label, TextView units);
void LogNumber(const char* label, unsigned long number);
