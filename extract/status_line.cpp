// The status line and the message pump that keep the dialog alive while the
// job runs on the dialog's own thread. A silent run has no dialog: its
// status texts go to the log alone, and nothing pauses or pumps for them.

#include "extract.h"
#include "platform.h"
#include "run_log.h"

int ProgressPercent;

namespace {

constexpr int MostMessagesPerPump = 101;
constexpr DWORD ProgressPauseMilliseconds = 10;
// Room for the longest text, "... 100% starting setup program ...".
constexpr int StatusSize = 64;

// The progress the status line shows, as ShowStatus takes it; 0 for any
// other text. A text repeated without change is logged once.
int ShownProgress;

}  // namespace

void ShowStatus(HWND dialog, const char* text, int progress) {
  if (progress == 0 || progress != ShownProgress) LogEvent("status: ", text);
  ShownProgress = progress;
  if (!SilentRun) platform::SetDlgItemTextA(dialog, StatusLineId, text);
}

void PumpMessages() {
  if (SilentRun) return;
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
  char status[StatusSize];
  platform::wsprintfA(status, "Decompressing setup : %d%%%s", ProgressPercent,
                      starting ? " starting setup program ..." : "");
  ShowStatus(dialog, status, ProgressPercent * 2 + starting + 1);
  if (SilentRun) return;
  platform::Sleep(ProgressPauseMilliseconds);
  PumpMessages();
}
