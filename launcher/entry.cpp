// Process entry: the dialog does the whole job; afterwards the run's traces in
// the temporary path are removed and the process ends with exit code 0,
// whatever happened.

#include "extract.h"
#include "launcher.h"
#include "platform.h"

ProcessText SetupProgramPath;

namespace {

void RemoveRunTraces() {
  if (!SetupProgramPath.Empty())
    platform::DeleteFileW(SetupProgramPath.CString());
  // The workspace was held against swapping until now; no one, this process
  // included, may remove it while it is held.
  CloseWorkspaceEntry();
  // Removes the workspace only when it is empty and this run created it.
  if (!FirstCreatedDirectory.Empty())
    platform::RemoveDirectoryW(FirstCreatedDirectory.CString());
}

}  // namespace

extern "C" void WINAPI LauncherEntry() {
  platform::RestrictDllSearch();
  platform::DialogBoxParamA(platform::GetModuleHandleW(), DialogTemplateId,
                            LauncherDialogProc);
  RemoveRunTraces();
  ReleaseProcessText(SetupProgramPath);
  ReleaseExtractState();
  platform::ExitProcess(0);
}
