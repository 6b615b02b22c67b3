// The status line and the message pump that keep the dialog alive while the
// job runs on the dialog's own thread.

#include "extract.h"
#include "platform.h"

int ProgressPercent;

namespace {

constexpr int MostMessagesPerPump = 101;
constexpr DWORD ProgressPauseMilliseconds = 10;

void AppendDecimal(Text& text, int value) {
  char digits[10];
  int first = sizeof digits;
  do {
    digits[--first] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  text.Append(TextView{digits + first, static_cast<int>(sizeof digits) - first});
}

}  // namespace

void PumpMessages() {
  MSG message;
  for (int served = 0; served < MostMessagesPerPump; ++served) {
    if (!platform::PeekMessageA(&message)) return;
    platform::TranslateMessage(&message);
    platform::DispatchMessageA(&message);
  }
}

void ShowProgress(HWND dialog, bool starting) {
  if (ProgressPercent < 0) ProgressPercent = 0;
  if (ProgressPercent > 100) ProgressPercent = 100;
  Text status(Literal("Decompressing setup : "));
  AppendDecimal(status, ProgressPercent);
  status.Append('%');
  if (starting) status.Append(Literal(" starting setup program ..."));
  platform::SetDlgItemTextA(dialog, StatusLineId, status.CString());
  platform::Sleep(ProgressPauseMilliseconds);
  PumpMessages();
}
