// The status line and the message pump that keep the dialog alive while the
// job runs on the dialog's own thread. A silent run has no dialog: its
// status texts go to the log alone, and nothing pauses or pumps for them.

#include "extract.h"
#include "launcher.h"
#include "platform.h"
#include "run_log.h"
#include "run_state.h"

int ProgressPercent;
int ShownProgress;

namespace {

constexpr int MostMessagesPerPump = 101;
constexpr DWORD ProgressPauseMilliseconds = 10;
// Room for the longest text, "... 100% starting setup program ...".
constexpr int StatusSize = 64;

}  // namespace

void ShowStatus(HWND dialog, const char* text, int progress) {
  LogEvent("status: ", text);
  ShownProgress = progress;
  if (!Run.silent) SetDialogItemText(dialog, StatusLineId, text);
}

// What SetDlgItemTextA does, through the two calls the dialog needs anyway.
__attribute__((noinline)) void SetDialogItemText(HWND dialog, int id,
                                                const char* text) {
  platform::SetWindowTextA(platform::GetDlgItem(dialog, id), text);
}

void PumpMessages() {
  if (Run.silent) return;
  MSG message;
  for (int served = 0; served < MostMessagesPerPump; ++served) {
    if (!platform::PeekMessageA(&message)) return;
    platform::TranslateMessage(&message);
    platform::DispatchMessageA(&message);
  }
}

// A text equal to the one shown is neither shown again nor paused for, so a
// run pauses at most about fifty times, whatever the payload's size.
void ShowProgress(HWND dialog, int percent, bool starting) {
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  ProgressPercent = percent;
  const int progress = percent * 2 + starting + 1;
  if (progress == ShownProgress) return;
  char status[StatusSize];
  platform::wsprintfA(status, "Decompressing setup : %d%%%s", percent,
                      starting ? " starting setup program ..." : "");
  ShowStatus(dialog, status, progress);
  if (Run.silent) return;
  platform::Sleep(ProgressPauseMilliseconds);
  PumpMessages();
}
