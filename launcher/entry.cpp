// Process entry: the run, from the launcher's own command line to its exit
// code.

#include "launcher.h"
#include "platform.h"

extern "C" void WINAPI LauncherEntry() {
  platform::RestrictDllSearch();
  platform::ExitProcess(RunLauncher(platform::GetCommandLineW()));
}
