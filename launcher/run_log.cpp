#include "run_log.h"

#include "account.h"
#include "extract.h"
#include "platform.h"
#include "run_state.h"

namespace {

// The stamp's 24 bytes, the longest label and the longest ASCII text (a
// status text), with room to spare; UTF-8 needs at most 3 bytes a unit.
constexpr int HeadSize = 128;
constexpr int Utf8PerUnit = 3;

// A log that is a link, or that another account of a privileged run's
// could have prepared, would let that account read or redirect what the run
// writes (the setup program's arguments included), so it is not written.
// An existing log is opened as the entry itself, never through a link; a
// new one is created only where no entry of its name is, so not even a
// dangling link is followed (Wine follows a host's link in any case).
HANDLE OpenLogFile(const wchar_t* path, DWORD creation, bool privileged) {
  return platform::CreateFileW(
      path,
      FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | (privileged ? READ_CONTROL : 0),
      FILE_SHARE_READ | FILE_SHARE_WRITE, creation,
      FILE_FLAG_OPEN_REPARSE_POINT, privileged ? ClosedSecurity() : nullptr);
}

}  // namespace

void OpenRunLog(TextView path) {
  if (path.length == 0 || !ClosedSecurity()) return;
  const bool privileged = PrivilegedRun();
  HANDLE log = OpenLogFile(path.units, OPEN_EXISTING, privileged);
  if (log == INVALID_HANDLE_VALUE &&
      platform::GetLastError() == ERROR_FILE_NOT_FOUND)
    log = OpenLogFile(path.units, CREATE_NEW, privileged);
  BY_HANDLE_FILE_INFORMATION information;
  if (log != INVALID_HANDLE_VALUE &&
      platform::GetFileInformationByHandle(log, &information) &&
      !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      information.nNumberOfLinks == 1 &&
      (!privileged || TrustedEntry(log, false, false)))
    Run.log = log;
  else
    CloseFileOnce(log);
}

void CloseRunLog() { CloseHeldHandle(Run.log); }

// The line is written in one piece, so that it lands whole at the file's end.
void LogEvent(const char* label, const char* text, TextView units) {
  if (!Run.log) return;
  const int size = HeadSize + units.length * Utf8PerUnit;
  auto* line = static_cast<char*>(platform::HeapAlloc(size));
  if (!line) return;
  SYSTEMTIME now;
  platform::GetLocalTime(&now);
  int length = platform::wsprintfA(
      line, "%04d-%02d-%02d %02d:%02d:%02d.%03d %s%s", now.wYear, now.wMonth,
      now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, label,
      text);
  length += platform::Utf8FromWide(units.units, units.length, line + length,
                                   size - length);
  line[length++] = '\r';
  line[length++] = '\n';
  DWORD written;
  platform::WriteFile(Run.log, line, static_cast<DWORD>(length), &written);
  platform::HeapFree(line);
}

// One copy of the empty ASCII text for the callers that log only units.
__attribute__((noinline)) void LogUnits(const char* label, TextView units) {
  LogEvent(label, "", units);
}

void LogNumber(const char* label, unsigned long number) {
  char digits[12];
  platform::wsprintfA(digits, "%lu", number);
  LogEvent(label, digits);
}
