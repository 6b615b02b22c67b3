// The status line and the message pump that keep the dialog alive while the
// job runs on the dialog's own thread.

#include "extract.h"
#include "platform.h"

int ProgressPercent;

namespace {

constexpr int MostMessagesPerPump = 101;
constexpr DWORD ProgressPauseMilliseconds = 10;

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
  // Room for the longest line, "... 100% starting setup program ...".
  char status[64];
  platform::wsprintfA(status, "Decompressing setup : %d%%%s", ProgressPercent,
                      starting ? " starting setup program ..." : "");
  platform::SetDlgItemTextA(dialog, StatusLineId, status);
  platform::Sleep(ProgressPauseMilliseconds);
  PumpMessages();
}
