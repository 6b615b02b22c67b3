#include "run_log.h"

#include "extract.h"
#include "platform.h"

bool SilentRun;
const char SetupCommandLineLabel[] = "setup command line: ";
const char SetupExitCodeLabel[] = "setup exit code: ";

namespace {

HANDLE RunLog = INVALID_HANDLE_VALUE;

void Write(const char* bytes, int length) {
  DWORD written = 0;
  platform::WriteFile(RunLog, bytes, static_cast<DWORD>(length), &written);
}

// The time stamp and the label, the text, the line's end. A line is three
// writes; the file is opened for appending, so each lands at its end.
void LogBytes(const char* label, const char* text, int length) {
  SYSTEMTIME now;
  platform::GetLocalTime(&now);
  char head[64];  // the stamp's 24 bytes and the longest label
  Write(head, platform::wsprintfA(
                  head, "%04d-%02d-%02d %02d:%02d:%02d.%03d %s", now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                  now.wMilliseconds, label));
  Write(text, length);
  Write("\r\n", 2);
}

}  // namespace

void OpenRunLog(TextView path) {
  if (path.length == 0) return;
  RunLog = platform::CreateFileW(path.units, FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 OPEN_ALWAYS);
}

void CloseRunLog() { CloseFileOnce(RunLog); }

void LogText(const char* label, TextView text) {
  if (RunLog == INVALID_HANDLE_VALUE) return;
  const int size = platform::Utf8FromWide(text.units, text.length, nullptr, 0);
  auto* bytes = static_cast<char*>(platform::HeapAlloc(size + 1));
  if (!bytes) return;
  LogBytes(label, bytes,
           platform::Utf8FromWide(text.units, text.length, bytes, size));
  platform::HeapFree(bytes);
}

void LogMessage(const char* label, const char* text) {
  if (RunLog == INVALID_HANDLE_VALUE) return;
  int length = 0;
  while (text[length]) ++length;
  LogBytes(label, text, length);
}

void LogNumber(const char* label, unsigned long number) {
  char digits[12];
  platform::wsprintfA(digits, "%lu", number);
  LogMessage(label, digits);
}
