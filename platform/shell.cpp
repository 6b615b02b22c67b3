// The shell's elevated start. shell32 is needed only when a setup program
// requires elevation, so it is loaded then, from the system directory only,
// instead of being imported by every run.

#include "platform.h"

namespace platform {

BOOL ShellExecuteExW(const wchar_t* file, const wchar_t* parameters,
                     HANDLE* process) {
  *process = nullptr;
  if (Decide(Call::ShellExecuteExW, file, 0) == Action::Fail) {
    ::SetLastError(faults::InjectedError(ERROR_CANCELLED));
    return FALSE;
  }
  using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
  HMODULE shell = LoadSystemLibrary(L"\\shell32.dll");
  const auto execute = reinterpret_cast<ShellExecuteExFunction>(
      shell ? ::GetProcAddress(shell, "ShellExecuteExW") : nullptr);
  if (!execute) return FALSE;
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = SW_SHOWNORMAL;
  const BOOL started = execute(&info);
  *process = info.hProcess;
  return started;
}

}  // namespace platform
