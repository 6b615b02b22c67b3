// Loaded into the launcher's process by a window hook: appends every text
// set on the status line (control 103) to the file that
// HALVEX_E2E_STATUS_LOG names, one line each, in the order they were set.

#include <windows.h>

namespace {

constexpr int StatusLineId = 103;

void AppendLine(const char* text) {
  char path[MAX_PATH];
  const DWORD length =
      GetEnvironmentVariableA("HALVEX_E2E_STATUS_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(log, text, lstrlenA(text), &written, nullptr);
  WriteFile(log, "\n", 1, &written, nullptr);
  CloseHandle(log);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK StatusHook(int code,
                                                             WPARAM wParam,
                                                             LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == WM_SETTEXT &&
      GetDlgCtrlID(call->hwnd) == StatusLineId && call->lParam)
    AppendLine(reinterpret_cast<const char*>(call->lParam));
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
