#include "run_log.h"

#include "extract.h"
#include "platform.h"

bool SilentRun;

namespace {

HANDLE RunLog = INVALID_HANDLE_VALUE;

// The stamp's 24 bytes, the longest label and the longest ASCII text (a
// status text), with room to spare; UTF-8 needs at most 3 bytes a unit.
constexpr int HeadSize = 128;
constexpr int Utf8PerUnit = 3;

}  // namespace

void OpenRunLog(TextView path) {
  if (path.length == 0) return;
  RunLog = platform::CreateFileW(path.units, FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 OPEN_ALWAYS);
}

void CloseRunLog() { CloseFileOnce(RunLog); }

// The line is written in one piece, so that it lands whole at the file's end.
void LogEvent(const char* label, const char* text, TextView units) {
  if (RunLog == INVALID_HANDLE_VALUE) return;
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
  platform::WriteFile(RunLog, line, static_cast<DWORD>(length), &written);
  platform::HeapFree(line);
}

void LogNumber(const char* label, unsigned long number) {
  char digits[12];
  platform::wsprintfA(digits, "%lu", number);
  LogEvent(label, digits);
}
