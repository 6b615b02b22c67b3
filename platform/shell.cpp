// The shell's elevated start. shell32 and ole32 are needed only when a setup
// program requires elevation, so they are loaded then, from the system
// directory only, instead of being imported by every run.

#include "platform.h"

namespace platform {
namespace {

using CoInitializeExFunction = HRESULT(WINAPI*)(void*, DWORD);
using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);

FARPROC SystemProcedure(const wchar_t* library, const char* name) {
  HMODULE module = LoadSystemLibrary(library);
  return module ? ::GetProcAddress(module, name) : nullptr;
}

}  // namespace

BOOL StartElevated(const wchar_t* file, const wchar_t* parameters,
                   HANDLE* process) {
  *process = nullptr;
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = SW_SHOWNORMAL;
  // The test layer sees the verb as the shell would get it.
  if (Decide(Call::ShellExecuteExW, info.lpVerb, 0) == Action::Fail) {
    ::SetLastError(faults::InjectedError(ERROR_CANCELLED));
    return FALSE;
  }
  // The shell may hand the verb to COM objects; its callers initialise COM
  // first, apartment-threaded and without the old DDE.
  const auto initialize = reinterpret_cast<CoInitializeExFunction>(
      SystemProcedure(L"\\ole32.dll", "CoInitializeEx"));
  const auto execute = reinterpret_cast<ShellExecuteExFunction>(
      SystemProcedure(L"\\shell32.dll", "ShellExecuteExW"));
  if (!initialize || !execute) return FALSE;
  initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const BOOL started = execute(&info);
  *process = info.hProcess;
  return started;
}

}  // namespace platform
