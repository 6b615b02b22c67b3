// The launcher's only window. The whole job runs inside the "&Install"
// command; the message pump of the job re-enters this procedure, and a
// command that ends the dialog then only marks it for ending.

#include "extract.h"
#include "launcher.h"
#include "platform.h"

const char WindowCaption[] = "Halvex 2 installer";

namespace {

// Outer window heights in pixels, caption and borders included; not scaled.
constexpr int CollapsedHeight = 96;
constexpr int WorkingGrowth = 30;

// WM_COMMAND values, compared as the whole wParam: a notification code other
// than BN_CLICKED (0) in the high word matches none of them.
constexpr WPARAM CancelCommand = IDCANCEL;
constexpr WPARAM AbortCommand = AbortButtonId;
constexpr WPARAM CloseCommand = SC_CLOSE;
constexpr WPARAM InstallCommand = InstallButtonId;

int WindowWidth(const RECT& rect) { return rect.right - rect.left; }

void LayOutCollapsed(HWND dialog) {
  ShowDialogItem(dialog, SeparatorId, false);
  ShowDialogItem(dialog, StatusLineId, false);
  RECT rect = {};
  platform::GetWindowRect(dialog, &rect);
  const int width = WindowWidth(rect);
  platform::SetWindowTextA(dialog, WindowCaption);
  // Centred with the collapsed height, not the template's, on the primary
  // display's full-screen client area; nothing clamps a negative position.
  const int y = platform::GetSystemMetrics(SM_CYFULLSCREEN) / 2 -
                CollapsedHeight / 2;
  const int x = platform::GetSystemMetrics(SM_CXFULLSCREEN) / 2 - width / 2;
  platform::SetWindowPos(dialog, x, y, width, CollapsedHeight, 0);
}

void LayOutWorking(HWND dialog) {
  RECT rect = {};
  platform::GetWindowRect(dialog, &rect);
  platform::SetWindowPos(dialog, 0, 0, WindowWidth(rect),
                         rect.bottom - rect.top + WorkingGrowth, SWP_NOMOVE);
  ShowDialogItem(dialog, SeparatorId, true);
  ShowDialogItem(dialog, StatusLineId, true);
  SetDialogItemText(dialog, AbortButtonId, "&Exit");
  ShowDialogItem(dialog, InstallButtonId, false);
}

void Install(HWND dialog) {
  LayOutWorking(dialog);
  RunJob(dialog);  // an interactive run's exit code is 0 whatever happened
  platform::EndDialog(dialog, 1);
}

}  // namespace

void ShowDialogItem(HWND dialog, int id, bool visible) {
  platform::ShowWindow(platform::GetDlgItem(dialog, id),
                       visible ? SW_SHOW : SW_HIDE);
}

INT_PTR CALLBACK LauncherDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                    LPARAM) {
  if (message == WM_INITDIALOG) {
    LayOutCollapsed(dialog);
    return TRUE;  // the focus goes to "&Install", the first tab stop
  }
  if (message != WM_COMMAND) return FALSE;
  switch (wParam) {
    case CancelCommand:
    case AbortCommand:
    case CloseCommand:
      platform::EndDialog(dialog, 0);
      return TRUE;
    case InstallCommand:
      Install(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}
